#include "imgproc/robust/cameradrift.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace {

// Differences beyond this are insects, not the scene.
constexpr double kClip = 20.0;
// Pixels left out at the edges, where the smoothing and shifting repeat them.
constexpr int kBorder = 4;
// Steps taken; the second corrects what the first left.
constexpr int kSteps = 2;
// A step shorter than this ends the search (half pixels).
constexpr double kSettled = 0.01;

// Halving first (at 8 bits, where the frame is) keeps the work a quarter.
void halve(const cv::Mat &in, cv::Mat &scratch, cv::Mat &out)
{
    cv::resize(in, scratch, cv::Size(in.cols / 2, in.rows / 2), 0, 0, cv::INTER_AREA);
    scratch.convertTo(out, CV_32F);
    cv::GaussianBlur(out, out, cv::Size(5, 5), 1.0);
}

} // namespace

cv::Point2d CameraDrift::shift(const cv::Mat &reference, const cv::Mat &frame)
{
    if (reference.size() != frame.size() || reference.cols < 8 * kBorder
        || reference.rows < 8 * kBorder)
        return {};
    halve(reference, whole, half);
    halve(frame, whole, frameHalf);
    const cv::Rect inner(kBorder, kBorder, half.cols - 2 * kBorder, half.rows - 2 * kBorder);
    cv::Sobel(half, gradientX, CV_32F, 1, 0, 3, 1.0 / 8);
    cv::Sobel(half, gradientY, CV_32F, 0, 1, 3, 1.0 / 8);
    gx = gradientX(inner);
    gy = gradientY(inner);
    cv::multiply(gx, gx, gxx);
    cv::multiply(gx, gy, gxy);
    cv::multiply(gy, gy, gyy);
    cv::Point2d total;
    for (int k = 0; k < kSteps; ++k) {
        if (k > 0)
            shifted(frameHalf, total, moved);
        const cv::Point2d d = step(half(inner), (k > 0 ? moved : frameHalf)(inner));
        total += d;
        if (std::abs(d.x) < kSettled && std::abs(d.y) < kSettled)
            break;
    }
    return total * 2.0;
}

// Bilinear as a 2 x 2 filter over the frame moved by whole pixels: several
// times faster than cv::warpAffine, which maps every pixel on its own.
void CameraDrift::shifted(const cv::Mat &frame, const cv::Point2d &by, cv::Mat &out)
{
    const int nx = static_cast<int>(std::floor(by.x));
    const int ny = static_cast<int>(std::floor(by.y));
    const float fx = static_cast<float>(by.x - nx);
    const float fy = static_cast<float>(by.y - ny);
    const int pad = std::max(std::abs(nx), std::abs(ny)) + 2;
    cv::copyMakeBorder(frame, padded, pad, pad, pad, pad, cv::BORDER_REPLICATE);
    const cv::Mat moved = padded(cv::Rect(pad + nx, pad + ny, frame.cols, frame.rows));
    const cv::Matx22f weights((1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy);
    cv::filter2D(moved, out, -1, weights, cv::Point(0, 0), 0, cv::BORDER_REPLICATE);
}

// frame(x) ~ reference(x - d) ~ reference(x) - d . gradient: least squares
// over the picture, the mean difference taken off first and the pixels
// that differ by much (insects) left out.
cv::Point2d CameraDrift::step(const cv::Mat &reference, const cv::Mat &frame)
{
    cv::subtract(reference, frame, difference);
    cv::subtract(difference, cv::mean(difference), difference);
    cv::inRange(difference, -kClip, kClip, kept);
    kept.convertTo(weight, CV_32F, 1.0 / 255);
    cv::multiply(difference, weight, difference);
    const double sxx = gxx.dot(weight);
    const double sxy = gxy.dot(weight);
    const double syy = gyy.dot(weight);
    const double bx = gx.dot(difference);
    const double by = gy.dot(difference);
    const double det = sxx * syy - sxy * sxy;
    if (!(det > 1e-9))
        return {};
    return { (syy * bx - sxy * by) / det, (sxx * by - sxy * bx) / det };
}
