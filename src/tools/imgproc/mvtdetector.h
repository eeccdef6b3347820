#pragma once

#include <vector>

#include <opencv2/core.hpp>

#include "target.h"

// Finds the moving blobs of a grey frame by differencing it with the previous
// frame, inside a mask, and turns each blob into a detected Target.
class MvtDetector
{
public:
    // Pixels where the mask is non-zero take part in detection. Clears the
    // reference, so the next frame only becomes the reference.
    void set_mask(const cv::Mat &mask);

    // Appends one initialised target per accepted blob. The reference moves
    // on to this frame only when `out` is empty on entry. A frame that
    // accepts() refuses is left alone with a warning.
    void detectabsdiff(const cv::Mat &grey, TargetList &out);

    // A frame fits when it is 8-bit, one channel, and of the mask's size (of
    // the reference's size when there is no mask).
    bool accepts(const cv::Mat &grey) const;

    // The previous masked frame; empty until the first frame after set_mask.
    const cv::Mat &reference() const { return previous; }
    // The external contours of the last call, in the order they were examined.
    const std::vector<std::vector<cv::Point>> &contours() const { return blobs; }

private:
    cv::Mat mask; // 0 or 255
    cv::Mat previous; // reference frame, masked
    cv::Mat current;
    cv::Mat diff;
    std::vector<std::vector<cv::Point>> blobs;
    std::vector<cv::Point> polygon;
};
