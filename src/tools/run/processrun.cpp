#include "run/processrun.h"

#include <climits>
#include <cmath>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <QFile>
#include <QFileInfo>

#include "logging.h"
#include "version.h"
#include "video/framereader.h"
#include "zones/resultfile.h"
#include "zones/videofiles.h"

namespace {

QString sizeText(const cv::Size &size)
{
    return QStringLiteral("%1x%2").arg(size.width).arg(size.height);
}

// Now, to the second: the record writes whole seconds.
QDateTime now()
{
    const QDateTime time = QDateTime::currentDateTime();
    return time.addMSecs(-time.time().msec());
}

} // namespace

ProcessRun::ProcessRun()
    : method(CountingMethod::create(CountingMethod::Classic))
{
}

ProcessRun::~ProcessRun() = default;

QStringList ProcessRun::queueFor(Mode mode, const QString &current, const QStringList &videos)
{
    switch (mode) {
    case One:
        return { current };
    case All:
        return videos;
    case Unprocessed:
        break;
    }
    QStringList queue;
    for (const QString &path : videos) {
        if (!VideoFiles::counted(path))
            queue.append(path);
    }
    return queue;
}

void ProcessRun::start(
    const AreaContour &zones, const cv::Size &frameSize, const QStringList &videos)
{
    runZones = zones;
    maskImage = runZones.createMask(frameSize, 0);
    runZones.computeAreaSegments(frameSize, 0);
    startZones = zones;
    startSize = frameSize;
    ownZones.clear();
    ownZonesInUse = false;
    if (method->kind() != countingKind) {
        // One method at a time owns the target pool: the old one goes first.
        method.reset();
        method = CountingMethod::create(countingKind);
    }
    method->reset(maskImage);
    // The engine's ids go on from an earlier run of the process; the tracks
    // file numbers them from the run's start, as a fresh process would.
    firstTrackId = Target::counter();
    queue = videos;
    output.abandon();
    open = false;
    reason.clear();
    failureText.clear();
}

void ProcessRun::setBoxesOf(const QString &video, const AreaContour &zones)
{
    ownZones.insert(video, zones);
}

void ProcessRun::takeBoxesFor(const QString &path, const cv::Size &frameSize)
{
    const auto own = ownZones.constFind(path);
    if (own == ownZones.constEnd() && !ownZonesInUse)
        return;
    ownZonesInUse = own != ownZones.constEnd();
    runZones = ownZonesInUse ? *own : startZones;
    const cv::Size size = ownZonesInUse ? frameSize : startSize;
    maskImage = runZones.createMask(size, 0);
    runZones.computeAreaSegments(size, 0);
    method->reset(maskImage);
    firstTrackId = Target::counter();
}

void ProcessRun::cancel()
{
    queue.clear();
    if (open) {
        tracks.discard();
        writePartialRecord(QStringLiteral("cancelled"));
    }
    output.abandon();
    open = false;
}

int ProcessRun::wholeFramesPerSecond(double rate)
{
    return std::isfinite(rate) && rate >= 0 && rate < INT_MAX ? static_cast<int>(rate) : 0;
}

QJsonObject ProcessRun::methodParameters() const
{
    return QJsonObject::fromVariantMap(method->parameters());
}

QString ProcessRun::noFrameCount(double declaredFrames)
{
    if (std::isfinite(declaredFrames) && declaredFrames > 0)
        return QString();
    return QStringLiteral("it has no frame count: a raw H.264 stream rather than an MP4 file? "
                          "Wrap it into an MP4 file with Import (mp4box)");
}

QString ProcessRun::openAtStart(cv::VideoCapture &capture, const QString &path, cv::Mat &frame)
{
    frame.release();
    if (!FrameReader::openCapture(capture, path) || !capture.isOpened())
        return QStringLiteral("it cannot be opened");
    capture.set(cv::CAP_PROP_POS_FRAMES, kStartFrame);
    if (!capture.read(frame) || frame.empty())
        return QStringLiteral("it has no frame %1").arg(kStartFrame);
    return QString();
}

bool ProcessRun::openNext(cv::VideoCapture &capture)
{
    if (queue.isEmpty()) {
        open = false;
        return false;
    }
    cv::Mat frame;
    const QString why = openAtStart(capture, queue.first(), frame);
    const bool opened
        = begin(capture.get(cv::CAP_PROP_FPS), capture.get(cv::CAP_PROP_FRAME_COUNT), frame, why);
    if (!opened)
        capture.release();
    return opened;
}

bool ProcessRun::openNext(cv::VideoCapture &capture, const cv::Mat &frame90)
{
    const bool opened = begin(
        capture.get(cv::CAP_PROP_FPS), capture.get(cv::CAP_PROP_FRAME_COUNT), frame90, QString());
    if (!opened)
        capture.release();
    return opened;
}

bool ProcessRun::openNext(FrameReader &reader)
{
    if (queue.isEmpty()) {
        open = false;
        return false;
    }
    const QString why = reader.open(queue.first(), kStartFrame);
    const bool opened = begin(reader.fps(), reader.frameCount(), reader.startFrame(), why);
    if (!opened)
        reader.close();
    return opened;
}

bool ProcessRun::begin(
    double rate, double declaredFrames, const cv::Mat &frame, const QString &openFailure)
{
    open = false;
    output.abandon();
    reason.clear();
    failureText.clear();
    warning.clear();
    if (queue.isEmpty())
        return false;
    const QString path = queue.takeFirst();
    videoPath = path;
    // Said before "it cannot be opened", which is all a reader can tell.
    const QString nameProblem = VideoFiles::nameProblem(path);
    if (!nameProblem.isEmpty()) {
        fail(nameProblem);
        reason = failureText;
        return false;
    }
    if (!openFailure.isEmpty()) {
        skip(path, openFailure);
        return false;
    }
    if (frame.empty()) {
        skip(path, QStringLiteral("it has no frame %1").arg(kStartFrame));
        return false;
    }
    if (frame.type() != CV_8UC3) {
        skip(path, QStringLiteral("its frames are not 8-bit colour"));
        return false;
    }
    takeBoxesFor(path, frame.size());
    // The mask, and the detector's reference, have the size of the video
    // that was current at the start.
    if (frame.size() != maskImage.size()) {
        skip(path,
            QStringLiteral("its frames are %1, the run's are %2")
                .arg(sizeText(frame.size()), sizeText(maskImage.size())));
        return false;
    }

    const QString frameCountProblem = noFrameCount(declaredFrames);
    if (!frameCountProblem.isEmpty()) {
        fail(frameCountProblem);
        reason = failureText;
        return false;
    }

    // Before any file of the video is touched: one run per video at a time.
    const OutputSet::Begin begun = output.begin(path);
    tidied = output.notes();
    switch (begun) {
    case OutputSet::Started:
        break;
    case OutputSet::Busy:
        skip(path, output.error());
        return false;
    case OutputSet::Failed:
        fail(output.error());
        reason = failureText;
        return false;
    }

    firstFrame = frame.clone(); // the caller may read into its frame again
    // A rate that is no whole number of frames per second in range counts as
    // none: the time stamps then stay at the start time.
    framesPerSecond = std::isfinite(rate) && rate >= 0 && rate < INT_MAX ? rate : 0;
    videoStart = VideoFiles::startTimeFromFileName(path);
    framePosition = kStartFrame;
    processed = 0;
    ins = 0;
    outs = 0;
    written = 0;

    counter.Reset();
    // Never into a count file that is no longer this run's: one removed
    // comes back by its name, or a run that took the video over made it.
    counter.setEventSink([this](const Result &event) {
        const QString problem = output.countFileProblem();
        return problem.isEmpty() ? ResultFile::append(output.countFile(), event) : problem;
    });
    method->startVideo(firstFrame.size(), framesPerSecond);
    trajectory.start(firstFrame, maskImage);
    beginRecord(declaredFrames);
    open = true;
    if (exportTracks && !tracks.start(videoPath)) {
        fail(tracks.error());
        reason = failureText;
        return false;
    }
    return true;
}

void ProcessRun::beginRecord(double declared)
{
    errors.clear();
    record = RunRecord();
    record.version = kestrin::version();
    record.video = QFileInfo(videoPath).fileName();
    record.method = method->name();
    record.parameters = methodParameters();
    record.countingBox = runZones.getArea();
    record.trackingBox = runZones.getMask();
    record.frameWidth = firstFrame.cols;
    record.frameHeight = firstFrame.rows;
    record.fps = framesPerSecond;
    record.declaredFrames = std::isfinite(declared) && declared > 0 ? declared : 0;
    record.started = now();
}

void ProcessRun::fillRecord(RunRecord::Status status, const QString &why)
{
    record.status = status;
    record.reason = why;
    record.framesProcessed = processed;
    record.firstFrame = processed > 0 ? kStartFrame : -1;
    record.lastFrame = processed > 0 ? framePosition - 1 : -1;
    record.in = ins;
    record.out = outs;
    record.ended = now();
}

void ProcessRun::writePartialRecord(const QString &why)
{
    // A run that did not replace the video's files leaves the earlier
    // record as it was and its own beside the partial counts.
    fillRecord(RunRecord::Status::Partial, why);
    QString problem;
    if (!record.save(VideoFiles::partialRunRecordFile(videoPath), &problem)) {
        qCWarning(lcImgproc).noquote() << "Cannot write the run record:" << problem;
        errors.append(problem);
    }
}

QVector<Result> ProcessRun::processFrame(const cv::Mat &frame)
{
    if (frame.type() == CV_8UC3)
        cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    else if (frame.type() == CV_8UC1)
        frame.copyTo(grey);
    else
        grey.release(); // refused by the tracker with a warning
    return processGrey(grey);
}

QVector<Result> ProcessRun::processGrey(const cv::Mat &greyFrame)
{
    if (!open)
        return {};
    qCDebug(lcImgproc).nospace().noquote() << "Frame = " << framePosition;

    QVector<Result> events;
    // A refused frame leaves the tracks as they were: counting them again
    // would repeat the last frame's events.
    if (method->process(greyFrame)) {
        events = method->count(countingStep(), counter);
        trajectory.addTracks(tracked());
        if (tracks.active())
            tracks.addFrame(framePosition, tracked(), firstTrackId);
        if (!counter.writeError().isEmpty())
            fail(counter.writeError());
    }
    for (const Result &event : events) {
        ins += event.in;
        outs += event.out;
    }
    written += events.size();
    framePosition += 1;
    ++processed;
    return events;
}

bool ProcessRun::finishVideo()
{
    if (!open)
        return false;
    // Events a method holds until it is sure go to this video's count file.
    const QVector<Result> held = method->finishVideo(countingStep(), counter);
    for (const Result &event : held) {
        ins += event.in;
        outs += event.out;
    }
    written += held.size();
    if (!counter.writeError().isEmpty()) {
        fail(counter.writeError());
        return false;
    }
    std::vector<unsigned char> jpeg;
    QString why;
    if (!trajectory.encode(jpeg, why)) {
        fail(why);
        return false;
    }
    const bool withTracks = tracks.active();
    if (withTracks && !tracks.finish()) {
        fail(tracks.error());
        return false;
    }
    // A video whose frames ran out well before its declared count is
    // recorded as partial, with the reader's report as the reason.
    fillRecord(
        warning.isEmpty() ? RunRecord::Status::Complete : RunRecord::Status::Partial, warning);
    if (!output.commit(jpeg, trajectory.getDensityText().toUtf8(), record.bytes(),
            withTracks ? TrackWriter::temporaryFile(videoPath) : QString(), written)) {
        fail(output.error());
        return false;
    }
    open = false;
    return true;
}

bool ProcessRun::finishVideo(const FrameReader &reader)
{
    if (!open)
        return false;
    warning = reader.endReport();
    if (!warning.isEmpty())
        qCDebug(lcImgproc).noquote() << videoPath << warning;
    return finishVideo();
}

CountingMethod::Step ProcessRun::countingStep() const
{
    CountingMethod::Step step;
    step.countingBox = runZones.getArea();
    runZones.getAreaSegments(step.countingSegments);
    step.trackingBox = runZones.getMask();
    step.frame = static_cast<int>(framePosition);
    step.fps = wholeFramesPerSecond(framesPerSecond);
    step.startTime = videoStart;
    return step;
}

void ProcessRun::skip(const QString &path, const QString &why)
{
    reason = why;
    qCWarning(lcImgproc).noquote() << "Skipping" << path << "because" << why;
}

void ProcessRun::fail(const QString &why)
{
    failureText = why;
    if (open) {
        tracks.discard();
        writePartialRecord(why);
    }
    open = false;
    output.abandon();
    // The caller reports it to the user; this is for the trace.
    qCDebug(lcImgproc).noquote() << "Stopping" << videoPath << "because" << why;
}
