#pragma once

#include <memory>

#include <opencv2/core/mat.hpp>

#include <QElapsedTimer>
#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVector>

#include "imgproc/result.h"
#include "imgproc/targetoverlay.h"
#include "run/processrun.h"
#include "run/rundriver.h"
#include "zones/areacontour.h"

class FileDialogProvider;
class FormControls;
class FormPage;
class Playback;
class ZoneEditor;
class QMouseEvent;
class QPushButton;
class QCloseEvent;
class QKeyEvent;
class QShowEvent;
class QCheckBox;
class QComboBox;
class QLabel;
class QTimer;
class ResultWindows;
class RunPanel;
class TableViewFile;
class TableViewResult;
class WorkingFolder;

namespace Ui {
class MainWindow;
}

// The one window of Kestrin: the working directory and its videos, the video
// view, the list of counts, and the controls of playback, processing and zone
// editing. All frame reading happens on the ticks of one timer: buttons and
// table selections only set the command that the next tick carries out.
// Its slots hand the work to its parts: Playback shows the video, ZoneEditor
// edits the boxes, RunPanel runs "Process", WorkingFolder keeps the
// directory, FormControls and FormPage make what the form leaves out.
class MainWindow final : public QMainWindow
{
    Q_OBJECT

public:
    // The states of the window's controls.
    enum statemode { ModeClosed = 0, ModeView, ModeProcess, ModeProcessEnd, ModeProcessCancel };
    Q_ENUM(statemode)

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Replaces the file dialogs (the default shows the real ones).
    void setFileDialogs(std::unique_ptr<FileDialogProvider> dialogs);

    // Size of the form; the window keeps it on a screen with room for it.
    static constexpr int formWidth = 1200;
    static constexpr int formHeight = 710;
    // Fits the window into `available` (a screen's available geometry): the
    // form's fixed size where it fits, else a smaller window whose form
    // scrolls. Done on the first show for the window's screen.
    void fitTo(const QRect &available);

    // Viewing timer interval in ms: 500 / fps cut towards zero, so playback
    // runs at twice the video's rate. A video reporting no usable frame rate
    // is played as 25 fps.
    static int playbackInterval(double fps);

private slots:
    void filename_videofile_change();
    void set_filename_videofile();
    void timeframe();
    void play_pause_video();
    void fast_forward();
    void slow_forward();
    void fast_reverse();
    void slow_reverse();
    void hs_frame_moved(int iPos);
    void algo();
    void sendMousePressVideo(QMouseEvent *e);
    void sendMouseBClickVideo(QMouseEvent *e);
    void sendMouseMoveVideo(QMouseEvent *e);
    void cleararea();
    void savearea();
    void cancelarea();
    void clearmask();
    void savemask();
    void cancelmask();
    void Import();
    void AddResult(const Result &result);
    void ClearResult();
    void File_Row_Changed(int ifile);
    void Result_Row_Changed(int irow);
    void Add_Insect_detected(int frame, int x, int y, int in, int out);
    void ModeVideo(statemode mode);
    void about();
    void on_pushButton_2_clicked();
    void on_pb_movebox_clicked();
    void on_pb_savebox_clicked();
    void on_pb_cancelbox_clicked();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    // Closing mid-run stops the run between two frames and takes the
    // trajectory window along, so that the program can end.
    void closeEvent(QCloseEvent *event) override;
    // The window follows the screen it is put on (see fitTo).
    void showEvent(QShowEvent *event) override;

private:
    friend class TestMainWindow;
    friend class PlaybackFixture;
    friend class TestZoneEditing;
    friend class TestProcessing;

    // What the next timer tick does.
    enum Command {
        Pause = 0,
        Play,
        SlowForward,
        FastForward,
        SlowReverse,
        FastReverse,
        Seek,
        ProcessFrame,
        ShowResult,
        NextFile
    };

    // Redraws the paused picture once: the timer stops again after the tick,
    // so an idle window does no work.
    void wake();
    // Draws the boxes into the picture and puts it in the video view as set by
    // the zoom and the "Save image" choice.
    void showPicture(cv::Mat &shown);

    // The open video's files read again after the table was relisted.
    void reloadVideoFiles();
    // Why "Process" cannot start now; empty when it can.
    QString processBlockReason() const;
    // Enables "Process" or says, in its tip and the status bar, why not.
    void updateProcessButton();
    void showVideoProperties();
    bool openVideo(int startFrame);
    void closeVideo();

    // A step command is done: the tick goes on with the redraw of Pause.
    void endStep();
    void restartPlaybackTimer();
    // NextFile: opens the next queued video, or ends the run.
    void nextFile();
    // ProcessFrame: one frame of the open video through the run.
    void processFrame();
    // After a cancel: the frame being processed becomes the current frame and
    // the capture reads on after it, for playback; the run is cancelled.
    void stopReading();
    // A video of the run ended: the run goes on with the next one.
    void videoEnded(const RunDriver::VideoEnd &end);

    std::unique_ptr<Ui::MainWindow> ui;
    QString videoFile; // the current video, "/" as separator
    WorkingFolder *folder = nullptr;
    QString processStartFile; // the video current when processing started
    QElapsedTimer shownClock; // a processed frame is shown at most every displayPeriod ms
    // The video viewed, and the boxes edited on it.
    Playback *playback = nullptr;
    ZoneEditor *zoneEditor = nullptr;
    // The processed frame drawn on and shown. A member so that ticks reuse
    // its buffer.
    cv::Mat picture;
    // The run, the list of counts and the trajectory window.
    RunPanel *runPanel = nullptr;
    // "Counting: classic / robust", beside `cb_process_conf`; remembered.
    QComboBox *cbCounting = nullptr;
    TargetOverlay targetOverlay;
    Command videoCommand = Pause;
    QTimer *timer = nullptr;
    TableViewFile *fileTable = nullptr;
    TableViewResult *resultTable = nullptr;
    std::unique_ptr<FileDialogProvider> fileDialogs;

    QCheckBox *saveTracksBox = nullptr; // kept in the setting saveTracks
    // What "Summary" and "Review" open.
    ResultWindows *resultWindows = nullptr;
    // Marks the listed events with the review's decisions.
    void markReviewed();
    FormPage *page = nullptr; // holds the form; scrolls on a small screen
    FormControls *controls = nullptr; // the controls made in code
};
