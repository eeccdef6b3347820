#pragma once

#include <opencv2/core/types.hpp>

#include <QString>

class AreaContour;

// The boxes and frame size of a run as read at its start, in a file of their
// own that the runs of --jobs read instead of the box files, so that every
// video of the run uses the same points whatever happens to the box files
// meanwhile. Lines: "W,H", the number of counting box points, those points
// as "x,y", the number of tracking box points, those points.
class ZoneSnapshot
{
public:
    ZoneSnapshot() = delete;

    static bool write(
        const QString &path, const AreaContour &zones, const cv::Size &frameSize, QString &error);
    // Replaces the boxes of `zones`; false with `error` for a file that is
    // not one write() made.
    static bool read(const QString &path, AreaContour &zones, cv::Size &frameSize, QString &error);
};
