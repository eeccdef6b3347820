#pragma once

#include <cstdint>

// Turns rows of 8-bit 4:2:0 YUV (limited range, BT.601: what libswscale
// assumes for a yuv420p frame that says nothing of its colours) into BGR and
// grey in one pass, byte for byte as libswscale's x86 converter and then
// cv::cvtColor(COLOR_BGR2GRAY) would, at a third of their time, and into
// grey alone when the colours are not wanted.
//
// Its arithmetic is that converter's, in 16-bit fixed point; whether the
// libswscale at hand converts so (another build, another processor) is for
// the caller to check before trusting it: check() on a frame holding every
// pair of chroma values.
class YuvConverter
{
public:
    YuvConverter();

    // The hand-written AVX2 path runs (SimdPaths); without it converting here
    // is slower than libswscale.
    bool fast() const { return wide; }

    // One row of `width` pixels: luma `y`, chroma `u` and `v` (half as wide),
    // into `bgr` (3 bytes a pixel; null for none) and `grey`.
    void convertRow(const uint8_t *y, const uint8_t *u, const uint8_t *v, int width, uint8_t *bgr,
        uint8_t *grey) const;

    // Fills a 512 x 512 yuv420p picture (planes with the given strides) with
    // every pair of chroma values, each with four luma levels, the levels
    // running through 0 to 255; check() compares what convertRow() makes of
    // it with `bgr`, the same picture converted by the reference, and with
    // the grey of that.
    static void fillCheck(
        uint8_t *y, int yStride, uint8_t *u, int uStride, uint8_t *v, int vStride);
    bool check(const uint8_t *y, int yStride, const uint8_t *u, int uStride, const uint8_t *v,
        int vStride, const uint8_t *bgr, int bgrStride) const;
    static constexpr int kCheckSize = 512;

private:
    bool wide = false;
};
