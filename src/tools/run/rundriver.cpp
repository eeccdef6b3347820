#include "run/rundriver.h"

#include "zones/videofiles.h"

QString RunDriver::VideoEnd::summaryLine() const
{
    const QString name = VideoFiles::baseName(video);
    switch (outcome) {
    case Outcome::Done:
    case Outcome::EndedEarly: {
        QString line
            = QStringLiteral("%1: %2 frames, %3 in, %4 out").arg(name).arg(frames).arg(in).arg(out);
        if (!reason.isEmpty())
            line += QStringLiteral(", ") + reason;
        return line;
    }
    case Outcome::Failed:
        return QStringLiteral("%1: failed: %2").arg(name, reason);
    case Outcome::Cancelled:
        return QStringLiteral("%1: interrupted after %2 frames, %3 in, %4 out")
            .arg(name)
            .arg(frames)
            .arg(in)
            .arg(out);
    case Outcome::Skipped:
        break;
    }
    return QString();
}

QHash<QString, AreaContour> RunDriver::ownBoxes(const QString &current, const AreaContour &zones,
    const QStringList &queue, QStringList *warnings)
{
    QHash<QString, AreaContour> own;
    for (const QString &video : queue) {
        if (video == current || own.contains(video))
            continue;
        QStringList read;
        const std::optional<AreaContour> saved = AreaContour::savedBoxes(video, &read);
        if (!saved || saved->sameBoxes(zones))
            continue;
        own.insert(video, *saved);
        if (warnings)
            *warnings += read;
    }
    return own;
}

RunDriver::RunDriver(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<RunDriver::VideoEnd>();
    qRegisterMetaType<RunDriver::Totals>();
}

RunDriver::~RunDriver() = default;

void RunDriver::start(const AreaContour &zones, const cv::Size &frameSize, const QStringList &queue,
    const QHash<QString, AreaContour> &own, OwnBoxes policy)
{
    frames.close();
    frame = nullptr;
    run.start(zones, frameSize, queue);
    runZones = zones;
    runSize = frameSize;
    boxesPolicy = policy;
    restartBoxes.clear();
    if (policy == OwnBoxes::Restart) {
        restartBoxes = own;
    } else {
        for (auto it = own.cbegin(); it != own.cend(); ++it)
            run.setBoxesOf(it.key(), it.value());
    }
    taken = 0;
    sums = Totals();
    sums.queued = queue.size();
    state = State::Between;
}

QString RunDriver::next() const
{
    return state == State::Idle || !run.hasNext() ? QString() : run.remaining().first();
}

bool RunDriver::step()
{
    switch (state) {
    case State::Idle:
        return false;
    case State::Between:
        if (!run.hasNext()) {
            state = State::Idle;
            emit finished(sums);
            return false;
        }
        openNext();
        return true;
    case State::Reading:
        break;
    }
    // A count that could not be written has closed the video: it ends here.
    frame = run.videoOpen() ? frames.next() : nullptr;
    if (frame == nullptr) {
        finishVideo();
        return true;
    }
    emit frameProcessed(run.processGrey(frame->grey));
    return true;
}

void RunDriver::openNext()
{
    ++taken;
    // Other boxes than the run's start it afresh: tracks cannot carry over.
    if (boxesPolicy == OwnBoxes::Restart) {
        const auto own = restartBoxes.constFind(run.remaining().first());
        const AreaContour &boxes = own == restartBoxes.constEnd() ? runZones : *own;
        if (!boxes.sameBoxes(run.zones()))
            run.start(boxes, runSize, run.remaining());
    }

    const bool opened = run.openNext(frames);
    for (const QString &note : run.notes())
        emit noted(run.video(), note);
    if (!opened) {
        report(run.videoFailed() ? Outcome::Failed : Outcome::Skipped, run.skipReason(), false);
        return;
    }
    state = State::Reading;
    emit videoStarted(run.video());
}

void RunDriver::finishVideo()
{
    // The video's files go in place together, or the earlier ones stay.
    const bool finished = run.finishVideo(frames);
    frames.close();
    if (!finished)
        report(Outcome::Failed, run.failure(), true);
    else if (!run.endWarning().isEmpty())
        report(Outcome::EndedEarly, run.endWarning(), true);
    else
        report(Outcome::Done, QString(), true);
}

void RunDriver::cancel()
{
    if (state == State::Idle)
        return;
    const bool inHand = state == State::Reading;
    // The frame handed out last stays readable until the reader closes.
    run.cancel();
    frames.close();
    frame = nullptr;
    if (inHand)
        report(Outcome::Cancelled, QString(), true);
    state = State::Idle;
}

void RunDriver::report(Outcome outcome, const QString &reason, bool started)
{
    frame = nullptr;
    state = State::Between;
    VideoEnd end;
    end.video = run.video();
    end.outcome = outcome;
    end.reason = reason;
    end.started = started;
    // Before a video is started the run still holds the last one's.
    if (started) {
        end.writeErrors = run.writeErrors();
        end.frames = run.framesProcessed();
        end.in = run.inCount();
        end.out = run.outCount();
        end.position = run.position();
    }
    const int done = sums.done;
    switch (outcome) {
    case Outcome::Done:
        ++sums.done;
        break;
    case Outcome::EndedEarly:
        ++sums.done;
        ++sums.endedEarly;
        break;
    case Outcome::Skipped:
        ++sums.skipped;
        break;
    case Outcome::Failed:
        ++sums.failed;
        break;
    case Outcome::Cancelled:
        ++sums.cancelled;
        break;
    }
    // A failed video counts once.
    if (!end.writeErrors.isEmpty() && sums.done > done)
        ++sums.withWriteErrors;
    sums.in += end.in;
    sums.out += end.out;
    emit videoEnded(end);
}

bool RunDriver::runAlone(const QString &video, const cv::Size &frameSize)
{
    AreaContour zones;
    zones.loadArea(video);
    zones.loadMask(video);
    start(zones, frameSize, { video });
    while (step()) { }
    return sums.done == 1;
}
