#pragma once

#include "imgproc/countingmethod.h"
#include "imgproc/tracker.h"

// The specified method: Tracker (nearest-centroid assignment within 1000 px,
// tracks dropped after 5 missed frames) and InsectDetect's line and box
// rules, unchanged.
class ClassicCounting final : public CountingMethod
{
public:
    ClassicCounting() = default;

    Kind kind() const override { return Classic; }
    // Its fixed values by name, for run records and the README: the
    // tracker's and the motion detector's.
    static QVariantMap values();
    QVariantMap parameters() const override { return values(); }

    void reset(const cv::Mat &mask) override;
    void startVideo(const cv::Size &frameSize, double fps) override;
    bool process(const cv::Mat &grey) override;
    QVector<Result> count(const Step &step, InsectDetect &recorder) override;
    QVector<Result> finishVideo(const Step &step, InsectDetect &recorder) override;

    const TargetList &tracked() const override { return tracker.trackedTargets(); }

private:
    Tracker tracker;
};
