#pragma once

#include <QMainWindow>
#include <QString>
#include <memory>

#include <opencv2/core/mat.hpp>

#include "displaygeometry.h"

class FileDialogProvider;
class ImageGraphicsView;
class TableViewFile;

namespace Ui {
class MainWindow;
}

// The one window of Kestrin: the working directory and its videos, the video
// view, and the controls of playback, processing and zone editing. Controls
// whose behaviour has not joined the window yet stay disabled.
class MainWindow final : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Replaces the file dialogs (the default shows the real ones).
    void setFileDialogs(std::unique_ptr<FileDialogProvider> dialogs);

private slots:
    void filename_videofile_change();
    void set_filename_videofile();
    void Import();
    void about();
    void on_pushButton_2_clicked();

private:
    friend class TestMainWindow;

    void showLogos();
    // Puts a picture in the video view as set by the zoom and the "Save image"
    // choice; the picture is drawn on by the caller and never stored.
    void showPicture(const cv::Mat &picture);

    std::unique_ptr<Ui::MainWindow> ui;
    QString workingDir;
    QString lastDir; // kept in the setting currentPath; start of the directory dialog
    ImageGraphicsView *imageView = nullptr;
    bool zoom = false;
    int zoomX = 0; // zoom centre in frame pixels
    int zoomY = 0;
    bool saveImage = false;
    QString saveImageFile;
    TableViewFile *fileTable = nullptr;
    DisplayGeometry geometry;
    std::unique_ptr<FileDialogProvider> fileDialogs;
};
