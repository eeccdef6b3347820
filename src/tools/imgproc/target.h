#pragma once

#include <vector>

#include <opencv2/core/types.hpp>

// One detected blob or live track. Records come from TargetPool and are
// recycled, never allocated per frame.
class Target
{
public:
    int id = 0;
    int agemovement = 0; // consecutive tracker passes in which this track was matched
    cv::Point origine; // top-left corner of the bounding box
    cv::Point centroid; // (x + width / 2, y + height / 2)
    int width = 0;
    int height = 0;
    cv::Point last; // centroid before the last update; (0, 0) when never updated
    int age = 0; // tracker passes since the last match
    // Whether `last` holds a position: (0, 0) is a real pixel of the frame.
    bool lastKnown = false;

    // New identity for a recycled record; agemovement is left to the tracker.
    void init();
    // Takes the newest observation of a detected target.
    void update(const Target &other);
    double distance_to(const Target &other) const;
    void print() const;

    static void reset_counter();
    // The next id that init hands out.
    static int counter();
};

// Tracks and detections are handed around as pool pointers.
using TargetList = std::vector<Target *>;
