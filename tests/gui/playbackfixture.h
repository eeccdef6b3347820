#pragma once

#include <memory>
#include <vector>

#include <opencv2/core/types.hpp>

#include <QByteArray>
#include <QColor>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "mainwindow.h"
#include "playback.h"

class QTableView;
class QTimer;

// Drives the main window the way a user does (clicks on its buttons, rows and
// slider) over small videos whose frames carry their own index, and reads back
// what the video view shows. Shared by the window's playback tests; each test
// class calls prepare() from initTestCase, startRow() from init and endRow()
// from cleanup.
class PlaybackFixture : public QObject
{
public:
    // The prepared videos have 110 frames: the reported count minus 5 puts the
    // end of playback at 105.
    static constexpr int frameCount = 110;
    static constexpr int endFrame = 105;
    static const cv::Size frameSize;

    // A count file with the header and one record per frame, in and out alternating.
    static QByteArray countFile(const std::vector<double> &frames);
    static bool writeFile(const QString &path, const QByteArray &content);
    static QString countFilePath(const QString &video);
    // <folder>/exportCSV/<base name><suffix>
    static QString exportFilePath(const QString &video, const char *suffix);

protected:
    // Isolated settings, and the videos in the formats Kestrin meets: H.264 in
    // .mp4 as the import makes it ("h264.mp4"), MPEG-4 part 2 in .mp4
    // ("mp4v.mp4"), MJPEG in .avi ("mjpeg.avi", imported under an .mp4 name),
    // and an H.264 video of 60 frames ("short.mp4").
    bool prepare();
    bool startRow();
    void endRow();

    // Copies one of the prepared videos into the working directory (or a
    // folder below it) under `name`; returns the full path, empty on failure.
    QString addVideo(const QString &source, const QString &name, const QString &folder = {});
    // A shown window whose working directory setting is `directory`; its
    // directory dialog answers "cancelled".
    bool createWindow(const QString &directory);
    bool clickRow(QTableView *view, int row);
    // Clicks the row of the file table that lists `path`.
    bool openVideo(const QString &path);
    // Index painted into the picture of the video view, or -1.
    int shownIndex() const;
    bool shownIsEmpty() const;
    // The text shown in the view instead of a picture.
    QString shownText() const;
    QColor shownColour(const QPoint &displayPoint) const;
    bool waitTicks(int ticks);
    // Carries out one user action and waits for the tick that executes it:
    // ">", ">>", "<", "<<", "play", "s:<slider value>", "r:<result row>".
    bool act(const QString &action);
    // Object names of the window's controls that can be used, sorted.
    QStringList enabledControls() const;
    QString label(const char *name) const;
    template <typename T> T *child(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }

    // What no widget reaches yet: the frame timer, the modes entered by
    // processing, the commands it sets, and the start time of the video.
    QTimer *frameTimer() const;
    void enterMode(MainWindow::statemode mode);
    using Command = Playback::Command;
    void setCommand(Command command);
    QDateTime startTime() const;

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_videos;
    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<MainWindow> m_window;
};
