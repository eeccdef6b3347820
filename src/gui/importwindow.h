#pragma once

#include <memory>

#include <QDialog>
#include <QString>
#include <QStringList>

class FileDialogProvider;
class ImportQueue;

namespace Ui {
class ImportWindow;
}

// The modal dialog that imports the .mp4, .avi and .h264 files of a chosen
// folder into the working directory through an ImportQueue, with progress
// bars, and closes itself when the last file is done.
class ImportWindow final : public QDialog
{
    Q_OBJECT

public:
    explicit ImportWindow(const QString &destination, QWidget *parent = nullptr);
    // An import still running goes on without the dialog to its last file.
    ~ImportWindow() override;

    // Where the questions and refusals go; not owned. Without one the real
    // message boxes are shown.
    void setDialogs(FileDialogProvider *dialogs);

    // The name a source gets in the working directory: its name up to the
    // first dot, with ".mp4".
    static QString targetName(const QString &source);

public slots:
    void set_filename_videofile();
    void Import();
    void Close();
    void end_thread();
    void copy_pos(int value);
    void save_pos(int value);
    void encode_pos(int value);

private:
    void scanFolder();
    void showCurrent(const QString &text);
    // Refuses sources that would land on one name; true when none do.
    bool namesAreDistinct();
    // Keeps only the sources whose import replaces no counted video, or
    // whose replacement the user allowed.
    void askBeforeReplacing();
    FileDialogProvider &dialogs();
    void showList();

    std::unique_ptr<Ui::ImportWindow> ui;
    const QString destination;
    QString folder;
    QStringList files;
    // Handed to the application when the dialog goes mid-import.
    ImportQueue *queue;
    FileDialogProvider *dialogProvider = nullptr;
    std::unique_ptr<FileDialogProvider> ownDialogs;
};
