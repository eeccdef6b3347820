#pragma once

#include <vector>

#include <opencv2/core.hpp>

#include <QString>

#include "imgproc/target.h"

// The tracks of a processed video painted in black over its first frame, with
// a banner giving the share of the detection region the tracks covered.
class TrajectoryImage
{
public:
    TrajectoryImage();

    // Restarts from a BGR frame and the detection mask (255 inside the region).
    void start(const cv::Mat &frame, const cv::Mat &mask);
    // Draws each track's last step; cheap enough for every frame.
    void addTracks(const TargetList &tracks);
    // Blackens the tracks inside the region and rewrites the density banner.
    // Calling it again gives the same picture.
    void compose();
    // A deep copy of the composed picture.
    cv::Mat image();
    // Composes, then gives the picture as the JPEG file holds it (the
    // encoder's default parameters); false with `error` when it cannot.
    bool encode(std::vector<unsigned char> &jpeg, QString &error);
    // Writes <folder>/exportCSV/<base>_doza.jpg and _doza.txt (no line end)
    // in place; a processing run commits them through OutputSet instead.
    void save(const QString &videoPath);
    // "Density: " and the density with four decimals.
    const QString &getDensityText() const;

private:
    cv::Mat picture; // BGR, receives tracks and banner
    cv::Mat outside; // 0 inside the detection region, 255 outside
    cv::Mat tracks; // 255, with the track lines at 0
    QString densityText;

    // Kept between calls so that compose allocates nothing per frame.
    cv::Mat covered; // tracks OR outside
    cv::Mat blackened; // 255 where covered is 0
    int region = 0; // pixels of outside at 0
};
