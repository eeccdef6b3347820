#pragma once

#include <opencv2/core/types.hpp>

#include <QVariantMap>

// Every setting of the robust method in one table: its name in run records
// and the README, its value, unit and meaning. Lengths are for a frame 640 px
// wide and scale with the frame; times are seconds, turned into frames at the
// video's rate.
class RobustParameters
{
public:
    enum Name {
        WorkWidth,
        BackgroundRate,
        DriftCheck,
        ForegroundShare,
        Bootstrap,
        BootstrapFrames,
        MinThreshold,
        NoiseFactor,
        MinArea,
        GroupGap,
        SplitShare,
        GhostContrast,
        MaxSpeed,
        Gate,
        ConfirmPoints,
        TentativeLife,
        LinkWindow,
        CoastTime,
        SideMargin,
        SideShare,
        SmoothTime,
        EdgeReach,
        HiddenShare,
        HeadingTime,
        MinHeading,
        Count
    };

    struct Entry
    {
        Name name;
        const char *key;
        double value;
        const char *unit;
        const char *meaning;
    };

    static const Entry &entry(Name name);
    static double value(Name name) { return entry(name).value; }
    // Every entry by key, for run records.
    static QVariantMap map();

    // The table's values for one video.
    struct Video
    {
        int factor = 1; // frame pixels per working pixel, each way
        double scale = 1; // frame width / 640
        double backgroundStep = 0; // grey levels per frame
        int driftFrames = 1; // between two measures of the camera's drift
        int bootstrapFrames = 0; // held before the first detection
        double minArea = 0; // working px
        double groupGap = 0; // working px
        double maxStep = 0; // px per frame
        double gate = 0; // px
        int linkWindow = 0; // frames
        int tentativeLife = 0; // frames
        int coastFrames = 0;
        double sideMargin = 0; // px
        int smoothFrames = 0; // either way
        double edgeReach = 0; // px
        int headingFrames = 0;
        double minHeading = 0; // px
    };
    static Video forVideo(const cv::Size &frameSize, double fps);
};
