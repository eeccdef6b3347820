#pragma once

#include <opencv2/core.hpp>

// How far a frame lies from the background when the camera drifts slowly:
// a Lucas-Kanade step or two over the whole picture, halved and smoothed,
// leaving out what differs by much (the insects) and the mean difference (a
// flicker of the light). Exact to a few hundredths of a pixel for the
// fraction of a pixel a frame adds to a drift; a longer way is gone in
// steps, sample to sample.
//
//   const cv::Point2d s = drift.shift(background, frame); // frame(x) ~ background(x - s)
//   drift.shifted(frame, s, aligned);                     // aligned ~ background
class CameraDrift
{
public:
    // `reference`: 8-bit or float; `frame`: 8-bit, of the same size.
    cv::Point2d shift(const cv::Mat &reference, const cv::Mat &frame);
    // frame(x + by) at x, interpolated; the frame's edge repeated. `out`
    // must not be `frame`.
    void shifted(const cv::Mat &frame, const cv::Point2d &by, cv::Mat &out);

private:
    // One step from `frame` towards `reference` (both halved, inner part).
    cv::Point2d step(const cv::Mat &reference, const cv::Mat &frame);

    cv::Mat whole;
    cv::Mat half; // the reference, halved and smoothed
    cv::Mat frameHalf;
    cv::Mat moved;
    cv::Mat gradientX;
    cv::Mat gradientY;
    cv::Mat gx; // the inner part of gradientX
    cv::Mat gy;
    cv::Mat gxx;
    cv::Mat gxy;
    cv::Mat gyy;
    cv::Mat difference;
    cv::Mat kept;
    cv::Mat weight;
    cv::Mat padded;
};
