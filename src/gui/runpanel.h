#pragma once

#include <memory>
#include <optional>

#include <opencv2/core/mat.hpp>

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVector>

#include "imgproc/result.h"
#include "imgproc/targetoverlay.h"
#include "run/rundriver.h"
#include "zones/areacontour.h"

class ImageWindow;
class Playback;
class QComboBox;
class QLabel;
class QMainWindow;
class QWidget;
class TableViewFile;
class TableViewResult;

// The window's part of a run of "Process": the run driver, the list of
// counts with the totals of every event, the progress in the status bar, the
// messages about each video's end, and the trajectory window. It steps the
// driver on the playback's ticks and hands it the frames to show.
class RunPanel final : public QObject
{
    Q_OBJECT

public:
    // `table` shows the list; `process` is the "Process"/"Cancel" button the
    // trajectory window keeps clear of; `progress` shows the progress and
    // `counting` holds the counting method; all belong to `window`, whose
    // `playback` shows the run's frames.
    RunPanel(QMainWindow *window, Playback *playback, TableViewResult *table, QWidget *process,
        QLabel *progress, const QComboBox *counting);
    ~RunPanel() override;

    RunDriver &driver() { return run; }

    // `processing` chooses the videos of a run; `hint` says why "Process"
    // is disabled.
    void setProcessControls(QWidget *processing, QLabel *hint);
    // Why "Process" cannot start for `video` now; empty when it can.
    // `shown`: a frame of it is shown; `editing`: a box is being edited;
    // `boxesSaved`: both its boxes are saved.
    static QString blockReason(const QString &video, bool shown, bool editing, bool boxesSaved);
    // Enables "Process" and the processing choice, or says in the tip and
    // the hint why not (`reason`); while a box is drawn the status bar says
    // how instead. A run keeps "Cancel" at hand.
    void showProcessState(bool running, const QString &reason, bool editing);

    // The method chosen in the counting choice; classic without it.
    CountingMethod::Kind counting() const;

    // Asks the run's questions, then queues `queue` with the counting
    // chosen and clears the list; false when the user cancelled. The window
    // then opens the videos. `current` is the open video, whose `zones` on
    // frames of `frameSize` serve the whole run unless a video's own do.
    bool start(const QString &current, const AreaContour &zones, const cv::Size &frameSize,
        const QStringList &queue, bool exportTracks);
    // Opens the driver's next video and hands it to the playback from frame
    // `startFrame`; false when the run refused it or it cannot be shown.
    bool openNext(int startFrame);
    // The window has opened the driver's video and shows it.
    void startVideo();
    // One frame of `video` through the driver, or the end of it (the
    // driver's videoEnded). The frame is shown at most every few hundred
    // ms, with the trajectory window when `trajectory`.
    void processFrame(const QString &video, bool trajectory);
    // Cancels the run between two frames: the frame in hand becomes the
    // playback's current frame of `video`, read on after it.
    void stop(const QString &video);
    // "Processing done" and the videos that could not be completed.
    void showEnd();
    void showCancelled(double position);
    void showProgress(const QString &video, double position);

    // The list of counts: at most about 2000 listed, every event in the totals.
    const QVector<Result> &results() const { return list; }
    // The frame to read to show the listed event `row`, if it can be sought.
    std::optional<double> frameToShow(int row) const;
    void clearResults();
    // A record of a count file: listed while there is room; the totals are
    // the caller's (loadResults).
    void addResult(const Result &result);
    // One more event, listed and counted.
    void addEvent(const Result &result);
    // The count file of `video`, every record in the totals.
    void loadResults(const QString &video);
    TableViewResult *table() const { return resultTable; }
    // Marks the listed events of `video` with the decisions of its review.
    void markReviewed(const QString &video);
    // The queue of a run, from the file table as it is listed and the
    // choice of `cb_process_conf` (`video` is the open one).
    static QStringList queue(int choice, const TableViewFile &files, const QString &video);

    // Composes the trajectory image of the video in hand and shows it in
    // the trajectory window, created and placed on first use.
    void showTrajectory();
    ImageWindow *trajectoryWindow() const { return trajectory.get(); }
    void closeTrajectory();

signals:
    // The list changed (the window marks the reviewed events).
    void resultsChanged();

private:
    // The run's questions, asked before it starts. False: cancelled. `own`
    // gets the videos of `queue` whose saved boxes differ from `zones` when
    // each is to be counted with its own (`current` is the open video).
    bool chooseBoxes(const QString &current, const AreaContour &zones, const QStringList &queue,
        QHash<QString, AreaContour> &own);
    void videoEnded(const RunDriver::VideoEnd &end);
    // A frame went through the driver; `video` is the one in hand.
    void frameDone(const QString &video, double position);
    void eventsCounted(const QVector<Result> &events);
    void showResults();
    void say(const QString &text);

    QMainWindow *window;
    Playback *playback;
    TableViewResult *resultTable;
    QWidget *processButton;
    QLabel *progressLabel;
    QWidget *processingChoice = nullptr;
    QLabel *processHint = nullptr;
    QPointer<const QComboBox> countingChoice;
    RunDriver run;
    TargetOverlay targetOverlay;
    // The processed frame drawn on and shown; a member so that frames reuse
    // its buffer.
    cv::Mat picture;
    QElapsedTimer shownClock; // when a processed frame was last shown

    QVector<Result> list;
    // Totals of every event of the video, also those past the list's limit.
    int totalIn = 0;
    int totalOut = 0;
    int totalEvents = 0;

    std::unique_ptr<ImageWindow> trajectory;
    QSize trajectoryImageSize; // size of the trajectory image the window was placed for
    QSize trajectoryShownSize; // and the size it shows it at
    cv::Mat trajectoryScaled;

    int skippedOrFailed = 0;
    QStringList failures; // videos of this run that could not be completed
    QElapsedTimer speedClock;
    int speedFrames = 0; // frames processed since speedClock started
    double speed = 0; // frames per second over the last measure
};
