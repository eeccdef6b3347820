#include "insectscene.h"

#include <algorithm>

#include <opencv2/imgproc.hpp>

#include "testvideo.h"

namespace insectscene {

bool write(const QString &videoPath, int count, const Path &path, double fps, cv::Size size)
{
    const cv::Mat background = testvideo::background(size);
    return testvideo::write(
        videoPath, "avc1", fps, size, count, [&background, &path](int index, cv::Mat &frame) {
            background.copyTo(frame);
            cv::circle(frame, path(index), kRadius, cv::Scalar::all(20), cv::FILLED);
        });
}

cv::Point rightwards(int index)
{
    return cv::Point(20 + 8 * std::clamp(index - 100, 0, 30), 120);
}

std::vector<cv::Point> wholeFrame(cv::Size size)
{
    return { { 5, 5 }, { size.width - 5, 5 }, { size.width - 5, size.height - 5 },
        { 5, size.height - 5 } };
}

} // namespace insectscene
