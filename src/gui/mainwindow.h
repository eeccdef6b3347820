#pragma once

#include <memory>

#include <opencv2/core/mat.hpp>
#include <opencv2/core/types.hpp>
#include <opencv2/videoio.hpp>

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVector>

#include "displaygeometry.h"
#include "imgproc/result.h"
#include "imgproc/targetoverlay.h"
#include "run/processrun.h"
#include "video/framereader.h"
#include "zones/areacontour.h"

class FileDialogProvider;
class ImageGraphicsView;
class QMouseEvent;
class QPushButton;
class ImageWindow;
class QCloseEvent;
class QKeyEvent;
class QScrollArea;
class QShowEvent;
class QCheckBox;
class QComboBox;
class QLabel;
class QTimer;
class SummaryWindow;
class ReviewWindow;
class TableViewFile;
class TableViewResult;

namespace Ui {
class MainWindow;
}

// The one window of Kestrin: the working directory and its videos, the video
// view, the list of counts, and the controls of playback, processing and zone
// editing. All frame reading happens on the ticks of one timer: buttons and
// table selections only set the command that the next tick carries out.
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
    // Keeps the counting choice enabled exactly when the processing choice is.
    bool eventFilter(QObject *watched, QEvent *event) override;
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

    void showLogos();
    // Redraws the paused picture once: the timer stops again after the tick,
    // so an idle window does no work.
    void wake();
    // A box is being drawn or shifted and not saved.
    bool editing() const;
    // Asks before an unsaved box is dropped for `action`; true to go on.
    bool dropEditing(const QString &action);
    // Escape: drops the box being drawn or shifted, as its "Cancel".
    void cancelEditing();
    // A box is saved or cancelled: cursor and hint go, the picture is redrawn.
    void endEditing();
    // Tells how to draw a box, and brings its buttons into view.
    void startEditing(QWidget *group, const QString &box);
    void orderTabs();
    void addTips();
    // Beside "Video properties": where the time stamps of the video come from.
    void showRecordingStart();
    void saveFullFrame(const QString &file);
    // Asks how to count the queued videos whose saved boxes differ from
    // those of the open video; `own` gets their boxes when each is to be
    // counted with its own. False: cancelled.
    bool chooseBoxes(const QStringList &queue, QHash<QString, AreaContour> &own);
    // Draws the boxes into the picture and puts it in the video view as set by
    // the zoom and the "Save image" choice.
    void showPicture(cv::Mat &shown);
    // Shows a copy of the stored frame; nothing while no frame is held.
    void showFrame();

    void loadResults();
    // Hands the list and the totals of every event to the result table.
    void showResults();
    // The open video's files read again after the table was relisted.
    void reloadVideoFiles();
    // Warns when the box files just written do not hold the saved boxes.
    void checkSaved(bool area, bool mask);
    bool importAllowed() const;
    // Why "Process" cannot start now; empty when it can.
    QString processBlockReason() const;
    // Enables "Process" or says, in its tip and the status bar, why not.
    void updateProcessButton();
    // A video that could not be shown says why, in the view and the status bar.
    void showOpenFailure();
    void showVideoProperties();
    bool openVideo(int startFrame);
    void closeVideo();
    static QDateTime startTimeFromFileName(const QString &path);

    // Reads the next frame of the capture into `picture`.
    bool readPicture();
    // Moves the capture to `index`, then reads that frame into `picture`.
    bool readPictureAt(double index);
    // Keeps the picture just read as the current frame.
    void keepPicture();
    // A step command is done: the tick goes on with the redraw of Pause.
    void endStep();
    void restartPlaybackTimer();

    // Frame pixel under a position of the video view's viewport, through the
    // display geometry or, while zoomed, the zoom window.
    cv::Point toFrame(const QMouseEvent *e) const;
    // Enables the six box buttons and the shift's "Start", with the shift's
    // "Save" and "Cancel" too when withShiftEnd is set; the shift group only
    // for a video whose two box files exist.
    void enableEditButtons(bool withShiftEnd);
    // The cross-hair is the application's override cursor while a box is
    // drawn; at most one override of ours is ever on the stack.
    void setCrossCursor();
    void restoreCursor();
    // Drops an edit in progress: the override cursor and a shift or drawing
    // mode must not outlive the video they were started on.
    void leaveEditing();
    // The queue of a run, from the file table as it is listed and the
    // choice of `cb_process_conf`.
    QStringList processQueue() const;
    // NextFile: opens the next queued video, or ends the run.
    void nextFile();
    // ProcessFrame: one frame of the open video through the run.
    void processFrame();
    // After a cancel: the frame being processed becomes the current frame and
    // the capture reads on after it, for playback.
    void stopReading();
    void showTrajectory();
    void showProgress();
    // The "Summary" button and the "Save tracks" box, added to the form's
    // free space.
    void addResultControls();
    void showSummary();
    // Files of the video just done that could not be written.
    void reportWriteErrors();

    std::unique_ptr<Ui::MainWindow> ui;
    QString videoFile; // the current video, "/" as separator
    QString workingDir;
    QString lastDir; // kept in the setting currentPath; start of the directory dialog
    QString processStartFile; // the video current when processing started
    bool videoOpened = false;
    cv::VideoCapture capture; // viewing and playback
    // Processing: frames 91 on, decoded ahead on a thread of its own.
    FrameReader reader { 4, FrameReader::Direct, FrameReader::GreyOnly };
    const FrameReader::Frame *processed = nullptr; // the reader's, until its next frame
    QElapsedTimer shownClock; // a processed frame is shown at most every displayPeriod ms
    ImageGraphicsView *imageView = nullptr;
    AreaContour zones;
    // The current frame, never drawn on; overwritten in place.
    cv::Mat frame;
    // The picture drawn on and shown: a frame just read or a copy of `frame`.
    // A member so that ticks reuse its buffer.
    cv::Mat picture;
    // Created on the first processed frame with "Display trajectories" ticked.
    std::unique_ptr<ImageWindow> trajectoryWindow;
    QSize trajectoryImageSize; // size of the trajectory image the window was placed for
    QSize trajectoryShownSize; // and the size it shows it at
    cv::Mat trajectoryScaled;
    // The engine's tracker, crossing counter, trajectory image, detection mask
    // and queue of the videos still to process.
    ProcessRun run;
    // "Counting: classic / robust", beside `cb_process_conf`; remembered.
    QPointer<QComboBox> cbCounting;
    void addCountingChoice();
    TargetOverlay targetOverlay;
    QVector<Result> results;
    bool zoom = false;
    int zoomX = 0; // zoom centre in frame pixels
    int zoomY = 0;
    bool saveImage = false;
    QString saveImageFile;
    Command videoCommand = Pause;
    int editState = 0; // zone editing: 0 none, 1 counting box, 2 tracking box, 3 idle, 4 shift
    int pressX = 0; // frame position of the last press on the video view
    int pressY = 0;
    bool crossCursor = false; // our override cursor is on the stack
    QTimer *timer = nullptr;
    TableViewFile *fileTable = nullptr;
    TableViewResult *resultTable = nullptr;
    DisplayGeometry geometry;
    int frameHeight = 0;
    int frameWidth = 0;
    double fps = 0;
    double endFrame = 0; // reported frame count - endMargin: playback stops there
    QDateTime startTime; // wall-clock time of the first frame
    double position = 0; // index of the frame shown, a whole number
    std::unique_ptr<FileDialogProvider> fileDialogs;

    QPushButton *summaryButton = nullptr;
    QCheckBox *saveTracksBox = nullptr; // kept in the setting saveTracks
    QPointer<SummaryWindow> summaryWindow; // created on first use
    // "Review" beside "Summary": the review of the open video's counts.
    QPushButton *reviewButton = nullptr;
    QPointer<ReviewWindow> reviewWindow;
    void showReview();
    // Marks the listed events with the review's decisions.
    void markReviewed();
    QScrollArea *pageArea = nullptr; // holds the form; scrolls on a small screen
    bool fitted = false; // fitTo done for the screen shown on
    QLabel *recordingLabel = nullptr;
    QString editHint; // how to draw the box being drawn, in the status bar

    // Progress of a run in the status bar.
    QLabel *progressLabel = nullptr;
    QLabel *processHint = nullptr; // why "Process" is disabled
    QString openFailure; // why the last openVideo failed
    int runSkipped = 0; // videos of the run skipped or failed
    // Totals of every event of the video, also those past the list's limit.
    int totalIn = 0;
    int totalOut = 0;
    int totalEvents = 0;
    int runVideoCount = 0; // videos queued at the start
    QStringList runFailures; // videos of this run whose files could not be written
    int runVideoIndex = 0; // 1-based index of the video taken last
    QElapsedTimer speedClock;
    int speedFrames = 0; // frames processed since speedClock started
    double speed = 0; // frames per second over the last measure
};
