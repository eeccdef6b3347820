#pragma once

#include <memory>

#include <opencv2/core.hpp>

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include "imgproc/countingmethod.h"
#include "imgproc/insectdetect.h"
#include "imgproc/result.h"
#include "imgproc/target.h"
#include "zones/areacontour.h"
#include "zones/outputset.h"
#include "zones/runrecord.h"
#include "zones/trackwriter.h"
#include "zones/trajectoryimage.h"

namespace cv {
class VideoCapture;
}
class FrameReader;

// One run of "Process": the queued videos taken one after another through the
// engine, all with the boxes and the detection mask of the video current at
// the start. The window drives it one call per timer tick, kestrin-batch in a
// loop; the work of a processed frame exists nowhere else.
//
//   run.start(zones, frame90.size(), ProcessRun::queueFor(mode, current, videos));
//   FrameReader reader;
//   while (run.hasNext()) {
//       if (!run.openNext(reader)) { show run.skipReason(); continue; }
//       while (const FrameReader::Frame *frame = reader.next()) {   // 91 on
//           QVector<Result> events = run.processGrey(frame->grey);
//           // caller's display: frame->colour, overlay of run.tracked(),
//           // events, boxes, run.trajectoryImage(), run.position()
//           if (!run.videoOpen()) break;      // a count could not be written
//       }
//       run.finishVideo(reader);              // false: show run.failure()
//       reader.close();                       // run.endWarning(): ended early?
//   }
//
// In the window: "Process" calls start() and sets NextFile. A NextFile tick
// ends the run when !hasNext(), else calls openNext() on the window's reader
// (after a skip the next tick tries the next video) and takes startFrame()
// and position() as its frame and position. A ProcessFrame tick takes one
// frame: at the end it calls finishVideo() and goes back to NextFile, a frame
// goes through processGrey() and then the window's own drawing. "Cancel"
// calls cancel().
//
// A video's files are complete or absent (OutputSet): while it is processed
// its counts go to exportCSV/<base>.partial.csv under the video's lock, and
// finishVideo() puts the count file, trajectory image and density in place
// together. Until then the earlier files stay as they were; a cancelled or
// failed video leaves only its partial counts.
//
// Tracks and the detector's reference carry over from one video to the next.
// The run owns the counting method (classic unless setCounting says
// otherwise) and with it the process-wide target pool: keep one ProcessRun
// per process.
class ProcessRun
{
public:
    // Index of the window's `cb_process_conf`.
    enum Mode { Unprocessed = 0, One = 1, All = 2 };
    static constexpr int kStartFrame = 90; // shown, never processed

    ProcessRun();
    ~ProcessRun(); // an open video is abandoned as by cancel()
    ProcessRun(const ProcessRun &) = delete;
    ProcessRun &operator=(const ProcessRun &) = delete;

    // The videos a run takes, in order. `videos` is the folder's listing in
    // table order; Unprocessed keeps those without a count file now, One is
    // `current` alone, All the whole listing.
    static QStringList queueFor(Mode mode, const QString &current, const QStringList &videos);

    // Resets the engine, builds the mask and the counting segments from a copy
    // of `zones` for `frameSize` (the current video's), and queues `queue`.
    void start(const AreaContour &zones, const cv::Size &frameSize, const QStringList &queue);
    // After start(): `video` is counted with `zones` instead of the run's
    // boxes, from a fresh engine and a mask for its own frame size, as in a
    // run of its own; the videos after it go back to the run's boxes (and a
    // fresh engine).
    void setBoxesOf(const QString &video, const AreaContour &zones);
    // The method of the runs started from now on; takes effect at start().
    void setCounting(CountingMethod::Kind kind) { countingKind = kind; }
    CountingMethod::Kind counting() const { return countingKind; }
    // The method of the current run, for its name and parameters.
    const CountingMethod &countingMethod() const { return *method; }

    // Drops the queue and the open video; its counts so far stay in its
    // partial count file, its earlier complete files as they were.
    void cancel();

    bool hasNext() const { return !queue.isEmpty(); }
    const QStringList &remaining() const { return queue; }

    // Takes the next queued video and opens it on `capture` (through
    // FrameReader::openCapture) with frame 90 read. A video that cannot be
    // opened, has no frame 90 or whose frame size is not the mask's is
    // skipped before any of its files is touched: false, `capture` released,
    // a warning logged and skipReason() set. So is a video that another run
    // is processing ("it is being processed by process P on host H"). A video
    // without a frame count (noFrameCount), one whose name cannot be used
    // (VideoFiles::nameProblem, nameClash), or whose files cannot be started
    // (OutputSet::begin, the tracks) fails: false, videoFailed() and
    // skipReason() saying why. Otherwise its counts start afresh in its
    // partial count file, the counter is reset and the trajectory image
    // started from frame 90; `capture` then reads on from frame 91.
    bool openNext(cv::VideoCapture &capture);
    // The same for a caller that has opened the next queued video itself
    // with openAtStart, `frame90` being the frame it read (kestrin-batch
    // checks its VIDEO so before the run and saves a second seek).
    bool openNext(cv::VideoCapture &capture, const cv::Mat &frame90);
    // How every run opens a video: FrameReader::openCapture, then frame 90
    // read into `frame`. Empty on success, else the reason, as skipReason()
    // gives it.
    static QString openAtStart(cv::VideoCapture &capture, const QString &path, cv::Mat &frame);
    // Empty when a video reports a frame count; else why it cannot be
    // processed or played: a raw H.264 stream under an .mp4 name opens but
    // has no frame count to seek or end by. Every run checks it when it opens
    // a video, and so does the window before it plays one.
    static QString noFrameCount(double declaredFrames);
    // The whole frames per second the counter stamps events with: the
    // reported rate cut towards zero (30000/1001 gives 29); 0, adding no
    // time, for a rate that is not a finite number from 0 to INT_MAX.
    static int wholeFramesPerSecond(double rate);
    // The same with `reader` opening the video (frame 90 read) and then
    // handing out frames 91 on, decoded ahead. A reader open already is taken
    // as it is: the caller opened the next queued video on it and read
    // nothing since.
    bool openNext(FrameReader &reader);

    // One frame read after the last one (BGR): tracker, counter, trajectory.
    // Returns this frame's counting events, already in the count file. When
    // one cannot be written the video fails: videoOpen() turns false and
    // failure() says why.
    QVector<Result> processFrame(const cv::Mat &frame);
    // The same for a frame already converted to 8-bit grey.
    QVector<Result> processGrey(const cv::Mat &grey);

    // At the failed read that ends the video: writes the trajectory image and
    // its density text, the tracks when they are exported, and the run
    // record, and puts the three result files in place with the count file.
    // False, with failure() set, when a file cannot be written or renamed
    // (the earlier files stay as they were), or when no video is open.
    bool finishVideo();
    // The same when the frames came from `reader`: a video that ended well
    // before its declared frame count, or at a frame of another size, is
    // counted up to its last frame and its report kept as endWarning().
    bool finishVideo(const FrameReader &reader);
    // "ended at frame F of N declared" and why, for the last video; empty
    // when it ended as it should.
    const QString &endWarning() const { return warning; }

    // Also write exportCSV/<name>_tracks.csv for the videos opened from now
    // on. Off by default.
    void setTrackExport(bool on) { exportTracks = on; }
    bool trackExport() const { return exportTracks; }
    // Files of the last video that could not be written (run record,
    // tracks), each naming the file and the reason. Cleared by openNext.
    const QStringList &writeErrors() const { return errors; }

    // The current method's parameters (classic's with the motion
    // detector's), as the run record names them.
    QJsonObject methodParameters() const;

    // The video last taken from the queue and its properties; they stay
    // readable after finishVideo.
    const QString &video() const { return videoPath; }
    // Between a successful openNext and finishVideo (or cancel).
    bool videoOpen() const { return open; }
    const QString &skipReason() const { return reason; }
    // What opening the last video found and tidied (OutputSet::notes): a
    // stale lock taken over, leftovers of a killed run removed.
    const QStringList &notes() const { return tidied; }
    // The last video taken from the queue failed: it could not be started,
    // or a file of it could not be written. failure() names the file and the
    // system's reason.
    bool videoFailed() const { return !failureText.isEmpty(); }
    const QString &failure() const { return failureText; }
    // Where the open video's counts go until it is complete.
    const QString &countFile() const { return output.countFile(); }
    const cv::Mat &startFrame() const { return firstFrame; } // frame 90, BGR
    double fps() const { return framesPerSecond; }
    const QDateTime &startTime() const { return videoStart; }
    // Index of the last frame read: 90 after openNext, + 1 per processed
    // frame. The counter gets it before the increment, as the window hands
    // it on: the events of frame 91 carry frame number 90.
    double position() const { return framePosition; }
    int framesProcessed() const { return processed; }
    int inCount() const { return ins; }
    int outCount() const { return outs; }

    const TargetList &tracked() const { return method->tracked(); }
    const cv::Mat &mask() const { return maskImage; } // 255 where targets are detected
    const AreaContour &zones() const { return runZones; }
    // A composed copy; composing costs a pass over the frame.
    cv::Mat trajectoryImage() { return trajectory.image(); }
    // "Density: " and the density, as of the last composed trajectory image.
    const QString &densityText() const { return trajectory.getDensityText(); }
    // For connecting Add_Insect_detected.
    InsectDetect &insectDetect() { return counter; }

private:
    bool begin(
        double rate, double declaredFrames, const cv::Mat &frame, const QString &openFailure);
    void skip(const QString &path, const QString &why);
    // The boxes, mask and engine for the video `path` of `frameSize`.
    void takeBoxesFor(const QString &path, const cv::Size &frameSize);
    void fail(const QString &why);
    // The record of a video is begun when it opens and written when it ends;
    // an earlier run's record is removed as the count file starts afresh.
    void beginRecord(double declaredFrames);
    void fillRecord(RunRecord::Status status, const QString &reason);
    // Beside the partial counts, for a video that stops before its end.
    void writePartialRecord(const QString &reason);

    CountingMethod::Step countingStep() const;

    CountingMethod::Kind countingKind = CountingMethod::Classic;
    std::unique_ptr<CountingMethod> method;
    InsectDetect counter; // records the events of every method
    TrajectoryImage trajectory;
    OutputSet output;
    AreaContour runZones;
    cv::Mat maskImage;
    AreaContour startZones; // the run's boxes, as start() got them
    cv::Size startSize;
    QHash<QString, AreaContour> ownZones; // setBoxesOf
    bool ownZonesInUse = false;
    QStringList queue;

    QString videoPath;
    bool open = false;
    QString reason;
    QString failureText;
    QString warning;
    cv::Mat firstFrame;
    double framesPerSecond = 0;
    QDateTime videoStart;
    double framePosition = 0;
    int processed = 0;
    int ins = 0;
    int outs = 0;
    int written = 0; // lines in the count file
    QStringList tidied;
    cv::Mat grey; // kept: no full-size allocation per frame

    RunRecord record;
    TrackWriter tracks;
    bool exportTracks = false;
    int firstTrackId = 0; // the engine's first id of this run
    QStringList errors;
};
