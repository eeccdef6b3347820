#pragma once

#include <map>
#include <vector>

#include <opencv2/core.hpp>

#include "imgproc/countingmethod.h"
#include "imgproc/robust/foreground.h"
#include "imgproc/robust/robustparameters.h"
#include "imgproc/robust/trackletlinker.h"
#include "imgproc/robust/trajectorycounter.h"

// Counts that hold against slow, stopping, touching and fast insects. Its
// own detection finds each insect against a slowly adapting background
// (Foreground), pieces of track are linked into trajectories looking a few
// seconds ahead (TrackletLinker), and lines and boxes count on whole
// trajectories by their geometry (TrajectoryCounter), with the settings of
// RobustParameters. The first `bootstrap_s` are held and then counted at
// once; events come up to `link_window_s` late, so the count
// file may list them a little out of frame order. Line crossings carry their
// direction: In=1;Out=0 from left to right, In=0;Out=1 back.
class RobustCounting final : public CountingMethod
{
public:
    RobustCounting();
    ~RobustCounting() override;

    Kind kind() const override { return Robust; }
    QVariantMap parameters() const override;

    void reset(const cv::Mat &mask) override;
    void startVideo(const cv::Size &frameSize, double fps) override;
    bool process(const cv::Mat &grey) override;
    QVector<Result> count(const Step &step, InsectDetect &recorder) override;
    QVector<Result> finishVideo(const Step &step, InsectDetect &recorder) override;

    const TargetList &tracked() const override { return targets; }

private:
    void detect(const cv::Mat &small);
    void track(int number);
    void replayHeld();
    void settle(const std::vector<TrackletLinker::Update> &updates);
    QVector<Result> record(const Step &step, InsectDetect &recorder);
    void showLive();
    void releaseTargets();

    RobustParameters::Video config;
    cv::Mat trackingMask; // 255 where insects are looked for
    Foreground foreground;
    TrackletLinker linker;
    TrajectoryCounter counter;
    std::vector<TrackletLinker::Detection> detections;
    std::vector<TrackletLinker::Detection> expected;
    std::vector<cv::Point2d> seeds;
    std::vector<Foreground::Blob> parts;
    std::vector<TrackletLinker::Update> updates;
    std::vector<TrajectoryCounter::Event> events;
    std::vector<cv::Point> countingArea; // as the run's zones give them
    std::vector<cv::Point> trackingArea;
    std::map<int, Target *> shown; // per live piece of track
    TargetList targets;
    int frame = -1; // the count file's number of the last processed frame
    int firstCounted = -1;
    // The video's first frames, held until the first background is known.
    std::vector<cv::Mat> held;
    std::vector<int> heldNumbers;
    bool bootstrapped = false;
    bool pending = false; // a processed frame awaits count()
};
