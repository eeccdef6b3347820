#pragma once

#include <opencv2/core.hpp>

#include <QString>

#include "imgproc/munkres.h"
#include "imgproc/target.h"

// Merges one frame's detections into the live tracks by an optimal assignment
// on centroid distances; unmatched detections become new tracks and tracks
// unseen for max_age passes are dropped.
class TargetTracker
{
public:
    TargetTracker(int max_age, int max_distance);

    // On return `detected` is empty and `tracked` holds the updated tracks
    // followed by the new ones. Records move by pointer; dropped ones go back
    // to the pool.
    void track(TargetList &detected, TargetList &tracked);

    // Writes the matrix to the debug log as one item, rows and columns
    // labelled with the targets' ids.
    static void display(const QString &title, const cv::Mat &matrix, const TargetList &rows,
        const TargetList &cols);

private:
    void age_targets(TargetList &tracked) const;
    void compute_costs(const TargetList &detected, const TargetList &tracked);

    int max_age;
    int max_distance; // pixels; a cost equal to it is still merged

    // Scratch buffers, kept to avoid reallocating them every frame.
    Munkres munkres;
    cv::Mat costs;
    cv::Mat results;
};
