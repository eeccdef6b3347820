#include "imgproc/classiccounting.h"

#include "imgproc/insectdetect.h"

QVariantMap ClassicCounting::values()
{
    // The detector's first erosion is a single one by construction.
    return { { QStringLiteral("max_age"), Tracker::kMaxAge },
        { QStringLiteral("max_distance"), Tracker::kMaxDistance },
        { QStringLiteral("difference_threshold"), MvtDetector::kThreshold },
        { QStringLiteral("first_erosion"), 1 },
        { QStringLiteral("dilation"), MvtDetector::kDilations },
        { QStringLiteral("second_erosion"), MvtDetector::kErosions },
        { QStringLiteral("min_contour_points"), MvtDetector::kMinContourPoints },
        { QStringLiteral("approximation_epsilon"), MvtDetector::kApproxEpsilon } };
}

void ClassicCounting::reset(const cv::Mat &mask)
{
    tracker.reset();
    tracker.detector().set_mask(mask);
}

void ClassicCounting::startVideo(const cv::Size &, double)
{
    // The counter's duplicate check is the recorder's, cleared by the run.
}

bool ClassicCounting::process(const cv::Mat &grey)
{
    return tracker.process(grey);
}

QVector<Result> ClassicCounting::count(const Step &step, InsectDetect &recorder)
{
    return recorder.Detect(tracked(), step.countingSegments, step.frame, step.fps, step.startTime);
}

QVector<Result> ClassicCounting::finishVideo(const Step &, InsectDetect &)
{
    return {};
}
