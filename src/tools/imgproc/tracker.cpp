#include "imgproc/tracker.h"

#include <exception>

#include <QElapsedTimer>

#include "imgproc/targetpool.h"
#include "logging.h"

namespace {

constexpr int kPoolSize = 1000;

} // namespace

Tracker::Tracker()
    : targetTracker(kMaxAge, kMaxDistance)
{
    TargetPool::instance().resize(kPoolSize);
}

Tracker::~Tracker()
{
    TargetPool::destroy();
}

bool Tracker::process(const cv::Mat &grey)
{
    if (!mvtDetector.accepts(grey)) {
        qCWarning(lcImgproc, "Frame %dx%d of type %d rejected: it does not fit the mask", grey.cols,
            grey.rows, grey.type());
        return false;
    }
    try {
        QElapsedTimer timer;
        timer.start();
        mvtDetector.detectabsdiff(grey, detected);
        targetTracker.track(detected, tracked);
        clean_detected_targets();
        qCDebug(lcImgproc, "Exec in %d ms", static_cast<int>(timer.elapsed()));
        return true;
    } catch (const std::exception &e) {
        qCWarning(lcImgproc, "Frame skipped: %s", e.what());
    } catch (...) {
        qCWarning(lcImgproc, "Frame skipped: unknown error");
    }
    // Whatever the failed step left behind goes back to the pool.
    while (!detected.empty()) {
        TargetPool::instance().release(detected.front());
        detected.erase(detected.begin());
    }
    return false;
}

void Tracker::clean_detected_targets()
{
    while (!detected.empty()) {
        qCWarning(lcImgproc, "Detected target should be empty!!!");
        TargetPool::instance().release(detected.front());
        detected.erase(detected.begin());
    }
}

void Tracker::reset()
{
    for (TargetList *list : { &detected, &tracked }) {
        while (!list->empty()) {
            Target::reset_counter();
            TargetPool::instance().release(list->front());
            list->erase(list->begin());
        }
    }
}
