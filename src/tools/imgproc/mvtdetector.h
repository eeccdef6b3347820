#pragma once

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "imgproc/target.h"

// Finds the moving blobs of a grey frame by differencing it with the previous
// frame, inside a mask, and turns each blob into a detected Target.
//
// The result is that of thresholding the whole difference at 6, eroding it
// once, dilating it 20 times and eroding it 5 times with a 3 x 3 rectangle and
// replicated borders, then taking the external contours of the whole image.
// Only the thresholding runs over the whole frame; the morphology and the
// contours run on the regions that changed, with enough of their surroundings
// that the results are the same pixel for pixel, and the contours come in the
// same order.
class MvtDetector
{
public:
    // Its fixed values, which run records list.
    static constexpr int kThreshold = 6; // a difference above this counts as movement
    static constexpr int kDilations = 20;
    static constexpr int kErosions = 5; // after the dilations
    static constexpr int kMinContourPoints = 5; // a shorter contour is no blob
    static constexpr double kApproxEpsilon = 3.0; // pixels

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
    // Updated in place by the next call: clone it to keep it.
    const cv::Mat &reference() const { return previous; }
    // The external contours of the last call, in the order they were examined.
    const std::vector<std::vector<cv::Point>> &contours() const { return blobs; }
    // The last call's thresholded difference after one erosion, 255 where
    // something moved: the blobs are these pixels grown by 15. Frame sized
    // once a difference was taken; updated in place by the next call.
    const cv::Mat &movement() const { return eroded; }

private:
    // A run of open mask pixels [x0, x1) on one row.
    struct Span
    {
        int x0;
        int x1;
    };

    void prepare(cv::Size size);
    void difference(const cv::Mat &grey, bool moveReference);
    void erodeFlaggedTiles();
    void findRegions();
    void traceRegions();
    void windowAny(const cv::Mat &src, cv::Mat &dst, const cv::Rect &area, int reach, bool zeros);
    cv::Rect tileRect(int tx, int ty) const;

    cv::Mat mask; // 0 or 255, or empty for the whole frame
    cv::Mat previous;

    // Per-frame buffers of the frame's size. `binary` is exact everywhere;
    // `eroded` is exact everywhere as well, being 0 outside `erodedTiles`;
    // `rowPass`, `grown` and `closed` are valid only around the region being
    // traced.
    cv::Mat binary;
    cv::Mat eroded;
    cv::Mat rowPass;
    cv::Mat grown;
    cv::Mat closed;
    std::vector<uint8_t> counts;

    std::vector<Span> spans;
    std::vector<int> rowSpans; // spans of row y: [rowSpans[y], rowSpans[y + 1])

    // 16 x 16 tiles.
    int gridWidth = 0;
    int gridHeight = 0;
    std::vector<uint8_t> flaggedTiles; // may hold a pixel that survives the first erosion
    std::vector<int> erodedTiles; // tiles where `eroded` is not 0
    std::vector<cv::Rect> erodedBoxes; // per tile, the box of its non-zero eroded pixels
    std::vector<uint32_t> erodedStamp; // == stamp: an eroded tile; its box is erodedBoxes[tile]
    std::vector<uint32_t> reachStamp; // == stamp: near an eroded tile
    std::vector<uint32_t> visitedStamp; // == stamp: already given to a region
    uint32_t stamp = 0;
    std::vector<int> queue;
    std::vector<cv::Rect> regions;

    std::vector<std::vector<cv::Point>> regionContours;
    std::vector<std::vector<cv::Point>> found;
    std::vector<size_t> order;
    std::vector<std::vector<cv::Point>> blobs;
    std::vector<cv::Point> polygon;
};
