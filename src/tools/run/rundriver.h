#pragma once

#include <opencv2/core.hpp>

#include <QHash>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include "imgproc/result.h"
#include "run/processrun.h"
#include "video/framereader.h"
#include "zones/areacontour.h"

// A run of "Process" video by video: which video comes next, opening it,
// why it was skipped or failed, how it ended, the files that could not be
// written, and the totals. The window calls step() once per timer tick and
// kestrin-batch in a loop; both only show what the signals report.
//
//   RunDriver driver;
//   connect(&driver, &RunDriver::videoEnded, ...);   // one per queued video
//   driver.start(zones, frame90.size(), queue);
//   while (!stopped && driver.step()) {}
//   if (stopped) driver.cancel();                     // videoEnded: Cancelled
//
// A step opens the next video (videoStarted, or videoEnded when it is
// skipped or fails), takes one frame of the open one (frameProcessed), or
// ends the open one when its frames have run out (videoEnded). The step
// after the last video emits finished() and returns false.
class RunDriver final : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        Done, // its files are in place
        EndedEarly, // in place, counted up to a frame well before its declared end
        Skipped, // untouched: it cannot be read as the run needs, or another run holds it
        Failed, // not started or not completed: its earlier files stay as they were
        Cancelled, // stopped in the middle: its counts so far stay in its partial count file
    };
    Q_ENUM(Outcome)

    // How a video ended, reported once per video taken from the queue.
    struct VideoEnd
    {
        QString video;
        Outcome outcome = Outcome::Done;
        // Why it was skipped or failed, or the reader's report on an early end.
        QString reason;
        // Files of it that could not be written (run record, tracks), each
        // naming the file and the reason; its count file stands.
        QStringList writeErrors;
        // It was opened and its frames read; the counts below are its own.
        bool started = false;
        int frames = 0;
        int in = 0;
        int out = 0;
        double position = 0; // index of the last frame read

        // kestrin-batch's line on standard output: "<base name>: <frames>
        // frames, <in> in, <out> out[, <end report>]", "<base name>: failed:
        // <reason>" or "<base name>: interrupted after ..."; empty when skipped.
        QString summaryLine() const;
    };

    // How the videos ended so far.
    struct Totals
    {
        int queued = 0;
        int done = 0; // Done and EndedEarly
        int endedEarly = 0;
        int skipped = 0;
        int failed = 0;
        int cancelled = 0;
        int withWriteErrors = 0; // done, but a file beside the counts could not be written
        int in = 0;
        int out = 0;
    };

    // How a queued video with boxes of its own is counted.
    enum class OwnBoxes {
        // As in a run of its own: a fresh engine, a mask for its own frame
        // size; the videos after it go back to the run's boxes.
        RunOfItsOwn,
        // The run starts afresh with them, at the run's frame size, before
        // the video; tracks carry over between videos with the same boxes.
        Restart,
    };

    // The videos of `queue` other than `current` with usable boxes of their
    // own (AreaContour::savedBoxes) that differ from `zones`, and those
    // boxes, read now: what start() takes as `own`. `warnings` gets the
    // lines of their files not read as written.
    static QHash<QString, AreaContour> ownBoxes(const QString &current, const AreaContour &zones,
        const QStringList &queue, QStringList *warnings = nullptr);

    explicit RunDriver(QObject *parent = nullptr);
    ~RunDriver() override; // an open video is abandoned as ProcessRun's destructor does

    // Also write the tracks (exportCSV/<name>_tracks.csv), from start() on.
    void setTrackExport(bool on) { run.setTrackExport(on); }
    void setCounting(CountingMethod::Kind kind) { run.setCounting(kind); }

    // Queues `queue` to be counted with `zones` at `frameSize` (the video's
    // current at the start); the videos in `own` with their own boxes.
    void start(const AreaContour &zones, const cv::Size &frameSize, const QStringList &queue,
        const QHash<QString, AreaContour> &own = {}, OwnBoxes policy = OwnBoxes::RunOfItsOwn);
    // One step as above; false once the run is over.
    bool step();
    // Counts `video` alone, start to end, with the boxes saved beside it, on
    // frames of `frameSize`; true when its counts were put in place.
    bool runAlone(const QString &video, const cv::Size &frameSize);
    // Drops the queue; the video in hand, if any, ends Cancelled.
    void cancel();

    bool running() const { return state != State::Idle; }
    // A video is open and being read.
    bool inVideo() const { return state == State::Reading; }
    // The video the next step opens; empty when none is left.
    QString next() const;
    // 1-based index of the video taken last.
    int videoIndex() const { return taken; }
    const Totals &totals() const { return sums; }

    // The video in hand (or ended last), its frame position and counts.
    const ProcessRun &current() const { return run; }
    // The frame the last step processed; null after it ended the video.
    const FrameReader::Frame *lastFrame() const { return frame; }
    const FrameReader &reader() const { return frames; }
    // Composes the trajectory image of the video in hand.
    cv::Mat trajectoryImage() { return run.trajectoryImage(); }
    // For connecting Add_Insect_detected.
    InsectDetect &insectDetect() { return run.insectDetect(); }

signals:
    // What opening `video` found and tidied (a stale lock taken over,
    // leftovers of a killed run), before its start or end is reported.
    void noted(const QString &video, const QString &note);
    // `video` is open at frame 90; its frames follow.
    void videoStarted(const QString &video);
    // A frame went through the engine; `events` are in the count file.
    void frameProcessed(const QVector<Result> &events);
    void videoEnded(const RunDriver::VideoEnd &end);
    // After the last video; not after cancel().
    void finished(const RunDriver::Totals &totals);

private:
    enum class State { Idle, Between, Reading };

    void openNext();
    void finishVideo();
    // `started`: the video was opened and its frames read.
    void report(Outcome outcome, const QString &reason, bool started);

    ProcessRun run;
    // Frames 91 on, decoded ahead on a thread of its own; grey is all the
    // engine reads.
    FrameReader frames { 4, FrameReader::Direct, FrameReader::GreyOnly };
    const FrameReader::Frame *frame = nullptr;
    State state = State::Idle;
    OwnBoxes boxesPolicy = OwnBoxes::RunOfItsOwn;
    QHash<QString, AreaContour> restartBoxes;
    AreaContour runZones;
    cv::Size runSize;
    int taken = 0;
    Totals sums;
};

Q_DECLARE_METATYPE(RunDriver::VideoEnd)
Q_DECLARE_METATYPE(RunDriver::Totals)
