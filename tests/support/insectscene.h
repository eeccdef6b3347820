#pragma once

#include <functional>
#include <vector>

#include <opencv2/core.hpp>

#include <QString>

// Synthetic recordings of one insect: a dark disc of radius 10 over the
// textured test background, its centre given per frame index.
namespace insectscene {

using Path = std::function<cv::Point(int index)>;

const cv::Size kSize(320, 240);
constexpr int kRadius = 10;

// Writes an H.264 .mp4 of `count` frames at `fps`; false when it cannot.
bool write(
    const QString &videoPath, int count, const Path &path, double fps = 90, cv::Size size = kSize);

// Along y = 120: at x = 20 until frame 100, then 8 px per frame to the
// right, standing still at x = 260 from frame 130 on. The detector sees the
// move between two frames centred between the two positions.
cv::Point rightwards(int index);

// The tracking box most tests use: the whole frame but a 5 px rim.
std::vector<cv::Point> wholeFrame(cv::Size size = kSize);

} // namespace insectscene
