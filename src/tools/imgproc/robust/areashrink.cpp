#include "imgproc/robust/areashrink.h"

#include <vector>

#include <opencv2/core/hal/intrin.hpp>

#include "simdpaths.h"

namespace {

// (s + 4) / 9 for s up to 9 * 255 + 4, as (s * 7282) >> 16: the error stays
// under 0.01, far from the next whole number.
constexpr unsigned kNinth = 7282;

} // namespace

bool AreaShrink::byThree(const cv::Mat &grey, cv::Mat &out)
{
    if (grey.type() != CV_8UC1 || grey.cols < 3 || grey.rows < 3 || grey.cols % 3 != 0
        || grey.rows % 3 != 0 || SimdPaths::plainPathsForced())
        return false;
    const int width = grey.cols / 3;
    out.create(grey.rows / 3, width, CV_8UC1);
    std::vector<ushort> sums(static_cast<size_t>(grey.cols));
    for (int y = 0; y < out.rows; ++y) {
        const uchar *a = grey.ptr<uchar>(3 * y);
        const uchar *b = grey.ptr<uchar>(3 * y + 1);
        const uchar *c = grey.ptr<uchar>(3 * y + 2);
        ushort *s = sums.data();
        int x = 0;
#if CV_SIMD128
        for (; x + 16 <= grey.cols; x += 16) {
            cv::v_uint16x8 a0, a1, b0, b1, c0, c1;
            cv::v_expand(cv::v_load(a + x), a0, a1);
            cv::v_expand(cv::v_load(b + x), b0, b1);
            cv::v_expand(cv::v_load(c + x), c0, c1);
            cv::v_store(s + x, a0 + b0 + c0);
            cv::v_store(s + x + 8, a1 + b1 + c1);
        }
#endif
        for (; x < grey.cols; ++x)
            s[x] = static_cast<ushort>(a[x] + b[x] + c[x]);
        uchar *o = out.ptr<uchar>(y);
        int k = 0;
#if CV_SIMD128
        const cv::v_uint16x8 four = cv::v_setall_u16(4);
        const cv::v_uint16x8 ninth = cv::v_setall_u16(static_cast<ushort>(kNinth));
        for (; k + 8 <= width; k += 8) {
            cv::v_uint16x8 p, q, r;
            cv::v_load_deinterleave(s + 3 * k, p, q, r);
            cv::v_pack_store(o + k, cv::v_mul_hi(p + q + r + four, ninth));
        }
#endif
        for (; k < width; ++k) {
            const unsigned total = s[3 * k] + s[3 * k + 1] + s[3 * k + 2] + 4u;
            o[k] = static_cast<uchar>((total * kNinth) >> 16);
        }
    }
    return true;
}
