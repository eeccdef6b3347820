#pragma once

#include <cstdint>

#include <opencv2/core.hpp>

// Makes 8-bit BGR images grey exactly as cv::cvtColor(COLOR_BGR2GRAY) does,
// without its thread pool: a decoding thread converts band after band while
// the band is still in the cache, and the pool's hand-offs for such small
// pieces cost more than the conversion itself.
//
// OpenCV 4's formula is (3735 B + 19235 G + 9798 R + 2^14) >> 15. A build
// of OpenCV that rounds otherwise is caught when the converter is made: it
// compares itself with cv::cvtColor over 65536 colours, and where they
// differ it hands every image to cv::cvtColor instead.
class GreyConverter
{
public:
    // OpenCV 4's weights, 15 fraction bits; they add up to 1 << kShift.
    static constexpr int kBlue = 3735;
    static constexpr int kGreen = 19235;
    static constexpr int kRed = 9798;
    static constexpr int kShift = 15;
    // The grey of one BGR pixel.
    static uint8_t greyOf(const uint8_t *bgr)
    {
        return static_cast<uint8_t>(
            (bgr[0] * kBlue + bgr[1] * kGreen + bgr[2] * kRed + (1 << (kShift - 1))) >> kShift);
    }

    GreyConverter();

    // `grey` takes the size of `bgr` (CV_8UC3) and is reused when it has it;
    // it may be a view (a band of a larger image).
    void convert(const cv::Mat &bgr, cv::Mat &grey) const;
    // False when the converter found itself unlike cv::cvtColor.
    bool exact() const { return own; }

private:
    void convertRows(const cv::Mat &bgr, cv::Mat &grey) const;

    bool own = true;
    bool wide = false; // the hand-written AVX2 path runs (SimdPaths)
};
