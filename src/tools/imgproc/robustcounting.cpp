#include "imgproc/robustcounting.h"

#include <exception>

#include "imgproc/insectdetect.h"
#include "imgproc/targetpool.h"
#include "logging.h"

namespace {

constexpr int kPoolSize = 2000;

} // namespace

RobustCounting::RobustCounting()
{
    TargetPool::instance().resize(kPoolSize);
    config = RobustParameters::forVideo(cv::Size(640, 480), 25);
}

RobustCounting::~RobustCounting()
{
    TargetPool::destroy();
}

QVariantMap RobustCounting::parameters() const
{
    return RobustParameters::map();
}

void RobustCounting::reset(const cv::Mat &mask)
{
    releaseTargets();
    Target::reset_counter();
    config = RobustParameters::forVideo(mask.empty() ? cv::Size(640, 480) : mask.size(), 25);
    trackingMask = mask.clone();
    foreground.reset(trackingMask, config);
    linker.reset();
    counter.reset();
    frame = -1;
    held.clear();
    heldNumbers.clear();
    bootstrapped = false;
}

void RobustCounting::startVideo(const cv::Size &frameSize, double fps)
{
    config = RobustParameters::forVideo(frameSize, fps);
    linker.setVideo(config);
    firstCounted = -1;
    // Each recording gets a background of its own.
    foreground.reset(trackingMask, config);
    held.clear();
    heldNumbers.clear();
    bootstrapped = false;
}

bool RobustCounting::process(const cv::Mat &grey)
{
    if (!foreground.accepts(grey)) {
        qCWarning(lcImgproc, "Frame %dx%d of type %d rejected: it does not fit the mask", grey.cols,
            grey.rows, grey.type());
        return false;
    }
    try {
        const cv::Mat &small = foreground.shrink(grey);
        if (bootstrapped) {
            detect(small);
        } else {
            held.push_back(small.clone());
            heldNumbers.push_back(-1);
        }
        pending = true;
        return true;
    } catch (const std::exception &e) {
        qCWarning(lcImgproc, "Frame skipped: %s", e.what());
    } catch (...) {
        qCWarning(lcImgproc, "Frame skipped: unknown error");
    }
    return false;
}

QVector<Result> RobustCounting::count(const Step &step, InsectDetect &recorder)
{
    const std::vector<cv::Point> &area = step.countingBox;
    const std::vector<cv::Point> &mask = step.trackingBox;
    if (area != countingArea || mask != trackingArea) {
        countingArea = area;
        trackingArea = mask;
        counter.setZones(countingArea, trackingArea);
        linker.setHidden(countingArea);
    }
    if (firstCounted < 0) {
        firstCounted = step.frame;
        counter.setVideo(config, firstCounted);
    }
    if (!pending)
        return {};
    pending = false;
    frame = step.frame;
    if (bootstrapped) {
        track(frame);
    } else {
        heldNumbers.back() = frame;
        if (static_cast<int>(held.size()) >= config.bootstrapFrames)
            replayHeld();
    }
    showLive();
    return record(step, recorder);
}

void RobustCounting::track(int number)
{
    updates.clear();
    linker.add(number, detections, updates);
    settle(updates);
}

// The first background from the held frames, then each of them counted.
void RobustCounting::replayHeld()
{
    foreground.learn(held);
    bootstrapped = true;
    for (size_t k = 0; k < held.size(); ++k) {
        detect(held[k]);
        track(heldNumbers[k]);
    }
    held.clear();
    heldNumbers.clear();
}

QVector<Result> RobustCounting::finishVideo(const Step &step, InsectDetect &recorder)
{
    if (!bootstrapped && !held.empty())
        replayHeld();
    updates.clear();
    linker.finish(updates);
    settle(updates);
    releaseTargets();
    counter.reset();
    return record(step, recorder);
}

// Blobs as detections; one that holds where several moving insects are
// expected, and is about as large as they are together, is theirs to share.
void RobustCounting::detect(const cv::Mat &small)
{
    detections.clear();
    linker.predict(expected);
    const double share = RobustParameters::value(RobustParameters::SplitShare);
    for (const Foreground::Blob &blob : foreground.detect(small)) {
        seeds.clear();
        double together = 0;
        const cv::Rect2d box = foreground.frameBox(blob);
        const double slack = 0.5 * config.gate;
        const cv::Rect2d reach(
            box.x - slack, box.y - slack, box.width + 2 * slack, box.height + 2 * slack);
        for (const TrackletLinker::Detection &e : expected) {
            if (reach.contains(e.at)) {
                seeds.push_back(e.at);
                together += e.area;
            }
        }
        parts.clear();
        if (seeds.size() >= 2 && blob.area >= share * together)
            foreground.split(blob, seeds, parts);
        else
            parts.push_back(blob);
        for (const Foreground::Blob &p : parts)
            detections.push_back({ p.centre, p.area });
    }
}

void RobustCounting::settle(const std::vector<TrackletLinker::Update> &settled)
{
    for (const TrackletLinker::Update &u : settled) {
        if (u.kind == TrackletLinker::Update::Point)
            counter.add(u.trajectory, u.sample, events);
        else
            counter.end(u.trajectory, u.vanished, events);
    }
}

QVector<Result> RobustCounting::record(const Step &step, InsectDetect &recorder)
{
    QVector<Result> results;
    for (const TrajectoryCounter::Event &e : events)
        results.append(recorder.record(e.frame, e.at, e.in, e.out, step.fps, step.startTime));
    events.clear();
    return results;
}

// The live pieces of track as targets, each keeping its record (and id)
// while it is seen.
void RobustCounting::showLive()
{
    std::map<int, Target *> now;
    targets.clear();
    for (const TrackletLinker::Live &l : linker.live()) {
        Target *t = nullptr;
        const auto found = shown.find(l.id);
        if (found != shown.end()) {
            t = found->second;
            shown.erase(found);
        } else {
            t = TargetPool::instance().take();
            if (!t)
                continue;
            t->init();
            t->agemovement = 0;
        }
        const cv::Point at(cvRound(l.at.x), cvRound(l.at.y));
        const int side = 8;
        t->last = cv::Point(cvRound(l.previous.x), cvRound(l.previous.y));
        t->centroid = at;
        t->origine = at - cv::Point(side / 2, side / 2);
        t->width = t->height = side;
        t->age = 0;
        t->agemovement = l.points;
        now[l.id] = t;
        targets.push_back(t);
    }
    for (const auto &gone : shown)
        TargetPool::instance().release(gone.second);
    shown.swap(now);
}

void RobustCounting::releaseTargets()
{
    for (const auto &t : shown)
        TargetPool::instance().release(t.second);
    shown.clear();
    targets.clear();
}
