// Times each hand-written SIMD path against the plain path that replaces it
// under KESTRIN_PLAIN_PATHS=1, on 1920x1080 frames:
//   grey        GreyConverter: BGR to grey (plain: its scalar loop)
//   yuv         a yuv420p frame to BGR and grey (plain: libswscale, as the
//               frame reader converts without AVX2, then GreyConverter)
//   yuv-grey    the same to grey alone (plain: the same as yuv)
// Each case runs its two paths in turns; the medians of milliseconds per
// frame are printed with their ratio. Also checks that both paths give the
// same bytes.
//
//   kestrin-bench-simd [rounds, default 30] [frames per round, default 10]

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <QByteArray>
#include <QtGlobal>

#include "video/greyconverter.h"
#include "video/simdpaths.h"
#include "video/yuvconverter.h"

namespace {

using Clock = std::chrono::steady_clock;

const cv::Size kFrameSize(1920, 1080);

// Whatever is made inside `make` takes the plain paths when `plain`.
template <typename Make> auto madeWith(bool plain, Make make)
{
    if (plain)
        qputenv("KESTRIN_PLAIN_PATHS", QByteArray("1"));
    else
        qunsetenv("KESTRIN_PLAIN_PATHS");
    auto made = make();
    qunsetenv("KESTRIN_PLAIN_PATHS");
    return made;
}

// A textured colour picture with dark blobs; `shift` moves the blobs and
// changes the noise.
cv::Mat picture(int shift)
{
    cv::RNG rng(7);
    cv::Mat coarse(34, 60, CV_32FC3);
    rng.fill(coarse, cv::RNG::UNIFORM, 40.0, 210.0);
    cv::Mat smooth;
    cv::resize(coarse, smooth, kFrameSize, 0, 0, cv::INTER_CUBIC);
    cv::Mat noise(kFrameSize, CV_32FC3);
    cv::RNG(static_cast<uint64>(shift) + 11).fill(noise, cv::RNG::UNIFORM, -2.0, 2.0);
    cv::Mat bgr;
    cv::Mat(smooth + noise).convertTo(bgr, CV_8UC3);
    for (int i = 0; i < 40; ++i) {
        const cv::Point centre(rng.uniform(0, kFrameSize.width), rng.uniform(0, kFrameSize.height));
        cv::circle(bgr, centre + cv::Point(3 * shift, shift), rng.uniform(2, 7),
            cv::Scalar::all(20), cv::FILLED);
    }
    return bgr;
}

double median(std::vector<double> values)
{
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// Milliseconds per frame of `run` over `frames` frames.
double timed(const std::function<void(int)> &run, int frames)
{
    const auto start = Clock::now();
    for (int i = 0; i < frames; ++i)
        run(i);
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / frames;
}

void report(const char *name, const std::function<void(int)> &wide,
    const std::function<void(int)> &plain, int rounds, int frames)
{
    std::vector<double> wideTimes;
    std::vector<double> plainTimes;
    for (int r = 0; r < rounds; ++r) {
        wideTimes.push_back(timed(wide, frames));
        plainTimes.push_back(timed(plain, frames));
    }
    const double w = median(wideTimes);
    const double p = median(plainTimes);
    std::printf("%-11s AVX2 %7.3f ms  plain %7.3f ms  plain/AVX2 %5.2f\n", name, w, p, p / w);
}

// A yuv420p frame of `bgr` and the libswscale context the frame reader
// would convert it back with.
struct Yuv
{
    AVFrame *frame = nullptr;
    AVFrame *bgr = nullptr;
    SwsContext *back = nullptr;

    explicit Yuv(const cv::Mat &source)
    {
        frame = av_frame_alloc();
        bgr = av_frame_alloc();
        if (!frame || !bgr)
            std::abort();
        frame->format = AV_PIX_FMT_YUV420P;
        bgr->format = AV_PIX_FMT_BGR24;
        frame->width = bgr->width = source.cols;
        frame->height = bgr->height = source.rows;
        if (av_frame_get_buffer(frame, 32) != 0 || av_frame_get_buffer(bgr, 32) != 0)
            std::abort();
        SwsContext *to = sws_getContext(source.cols, source.rows, AV_PIX_FMT_BGR24, source.cols,
            source.rows, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
        back = sws_getContext(source.cols, source.rows, AV_PIX_FMT_YUV420P, source.cols,
            source.rows, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (!to || !back)
            std::abort();
        const uint8_t *in[1] = { source.data };
        const int stride[1] = { static_cast<int>(source.step) };
        sws_scale(to, in, stride, 0, source.rows, frame->data, frame->linesize);
        sws_freeContext(to);
    }
    ~Yuv()
    {
        sws_freeContext(back);
        av_frame_free(&bgr);
        av_frame_free(&frame);
    }
    Yuv(const Yuv &) = delete;
    Yuv &operator=(const Yuv &) = delete;

    void convert(const YuvConverter &converter, cv::Mat *colour, cv::Mat &grey) const
    {
        for (int row = 0; row < grey.rows; ++row) {
            converter.convertRow(frame->data[0] + row * frame->linesize[0],
                frame->data[1] + row / 2 * frame->linesize[1],
                frame->data[2] + row / 2 * frame->linesize[2], grey.cols,
                colour ? colour->ptr(row) : nullptr, grey.ptr(row));
        }
    }
    void convert(const GreyConverter &converter, cv::Mat &colour, cv::Mat &grey) const
    {
        sws_scale(back, frame->data, frame->linesize, 0, frame->height, bgr->data, bgr->linesize);
        colour = cv::Mat(frame->height, frame->width, CV_8UC3, bgr->data[0],
            static_cast<size_t>(bgr->linesize[0]));
        converter.convert(colour, grey);
    }
};

bool same(const cv::Mat &a, const cv::Mat &b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    const int frames = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    if (!SimdPaths::avx2()) {
        std::fprintf(stderr, "bench: this processor has no AVX2 (or KESTRIN_PLAIN_PATHS is set)\n");
        return 1;
    }
    bool identical = true;
    const cv::Mat bgr[2] = { picture(0), picture(1) };

    const auto wideGrey = madeWith(false, [] { return GreyConverter(); });
    const auto plainGrey = madeWith(true, [] { return GreyConverter(); });
    cv::Mat greyWide;
    cv::Mat greyPlain;
    report(
        "grey", [&](int i) { wideGrey.convert(bgr[i % 2], greyWide); },
        [&](int i) { plainGrey.convert(bgr[i % 2], greyPlain); }, rounds, frames);
    identical = identical && same(greyWide, greyPlain);

    const Yuv yuv(bgr[0]);
    const auto wideYuv = madeWith(false, [] { return YuvConverter(); });
    cv::Mat colourWide(kFrameSize, CV_8UC3);
    cv::Mat colourPlain;
    greyWide.create(kFrameSize, CV_8UC1);
    report(
        "yuv", [&](int) { yuv.convert(wideYuv, &colourWide, greyWide); },
        [&](int) { yuv.convert(plainGrey, colourPlain, greyPlain); }, rounds, frames);
    identical = identical && same(colourWide, colourPlain) && same(greyWide, greyPlain);
    report(
        "yuv-grey", [&](int) { yuv.convert(wideYuv, nullptr, greyWide); },
        [&](int) { yuv.convert(plainGrey, colourPlain, greyPlain); }, rounds, frames);
    identical = identical && same(greyWide, greyPlain);

    std::printf("both paths give the same bytes: %s\n", identical ? "yes" : "NO");
    return identical ? 0 : 1;
}
