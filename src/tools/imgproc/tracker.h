#pragma once

#include "imgproc/mvtdetector.h"
#include "imgproc/target.h"
#include "imgproc/targettracker.h"

// The engine's front: one call per grey frame runs detection and tracking.
// Owns the process-wide target pool from construction to destruction.
class Tracker
{
public:
    // What TargetTracker is built with: a track is dropped after this many
    // frames unmatched, and matched at most this far (pixels).
    static constexpr int kMaxAge = 5;
    static constexpr int kMaxDistance = 1000;

    Tracker();
    ~Tracker();
    Tracker(const Tracker &) = delete;
    Tracker &operator=(const Tracker &) = delete;

    // One engine step. Returns false, with a warning and nothing changed,
    // when the frame is empty or does not fit the detector's mask.
    bool process(const cv::Mat &grey);
    // Returns whatever is left in the detected list to the pool.
    void clean_detected_targets();
    // Returns every target to the pool and restarts the ids.
    void reset();

    MvtDetector &detector() { return mvtDetector; }
    const TargetList &trackedTargets() const { return tracked; }

private:
    TargetList detected;
    TargetList tracked;
    MvtDetector mvtDetector;
    TargetTracker targetTracker;
};
