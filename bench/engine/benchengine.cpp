// Times Tracker::process on synthetic 1920x1080 scenes (textured background,
// sensor noise of a few grey levels, 5, 50 and 500 moving blobs), Munkres on
// square matrices, and, for comparison, decoding a 1920x1080 H.264 clip with
// cv::VideoCapture.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <QDateTime>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include "imgproc/countingmethod.h"
#include "imgproc/insectdetect.h"
#include "imgproc/munkres.h"
#include "imgproc/mvtdetector.h"
#include "imgproc/targetpool.h"
#include "imgproc/tracker.h"
#include "logging.h"
#include "zones/areacontour.h"
#include "zones/resultfile.h"

namespace {

using Clock = std::chrono::steady_clock;

const cv::Size kFrameSize(1920, 1080);
constexpr int kNoiseLayers = 8;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Blob
{
    cv::Point2d position;
    cv::Point2d velocity;
    int radius;
    int level;
};

// A scene of dark blobs moving over a fixed textured background, each frame
// with one of a few layers of noise.
class Scene
{
public:
    Scene(int blobs, unsigned seed)
        : rng(seed)
    {
        cv::Mat coarse(34, 60, CV_32FC1);
        rng.fill(coarse, cv::RNG::UNIFORM, 70.0, 170.0);
        cv::Mat smooth;
        cv::resize(coarse, smooth, kFrameSize, 0, 0, cv::INTER_CUBIC);
        cv::Mat fine(kFrameSize, CV_32FC1);
        rng.fill(fine, cv::RNG::UNIFORM, -8.0, 8.0);
        cv::GaussianBlur(fine, fine, cv::Size(5, 5), 1.2);
        const cv::Mat textured = smooth + fine;
        textured.convertTo(background, CV_16SC1);

        for (int i = 0; i < kNoiseLayers; ++i) {
            cv::Mat layer(kFrameSize, CV_16SC1);
            rng.fill(layer, cv::RNG::NORMAL, 0.0, 1.5);
            noise.push_back(layer);
        }
        for (int i = 0; i < blobs; ++i) {
            const double angle = rng.uniform(0.0, 2.0 * CV_PI);
            const double speed = rng.uniform(1.0, 6.0);
            swarm.push_back(
                { cv::Point2d(rng.uniform(0, kFrameSize.width), rng.uniform(0, kFrameSize.height)),
                    cv::Point2d(speed * std::cos(angle), speed * std::sin(angle)),
                    rng.uniform(2, 7), rng.uniform(35, 90) });
        }
    }

    void next(int index, cv::Mat &grey)
    {
        cv::add(background, noise[static_cast<size_t>(index % kNoiseLayers)], sum);
        sum.convertTo(grey, CV_8UC1);
        for (Blob &b : swarm) {
            b.position += b.velocity;
            if (b.position.x < 0 || b.position.x >= kFrameSize.width)
                b.velocity.x = -b.velocity.x;
            if (b.position.y < 0 || b.position.y >= kFrameSize.height)
                b.velocity.y = -b.velocity.y;
            const cv::Point at(cvRound(b.position.x), cvRound(b.position.y));
            const int base = grey.at<uchar>(std::clamp(at.y, 0, kFrameSize.height - 1),
                std::clamp(at.x, 0, kFrameSize.width - 1));
            cv::circle(grey, at, b.radius, cv::Scalar(std::max(0, base - b.level)), cv::FILLED);
        }
    }

private:
    cv::RNG rng;
    cv::Mat background;
    std::vector<cv::Mat> noise;
    std::vector<Blob> swarm;
    cv::Mat sum;
};

// Tracking box over most of the frame, with a counting box cut out of it.
cv::Mat benchMask()
{
    cv::Mat mask(kFrameSize, CV_8UC1, cv::Scalar(0));
    const std::vector<cv::Point> box = { { 60, 40 }, { 1860, 60 }, { 1880, 1040 }, { 40, 1020 } };
    cv::fillPoly(mask, std::vector<std::vector<cv::Point>> { box }, cv::Scalar(255));
    cv::rectangle(mask, cv::Rect(860, 440, 200, 200), cv::Scalar(0), cv::FILLED);
    return mask;
}

struct Timing
{
    double mean = 0;
    double median = 0;
    double max = 0;
};

Timing summarise(std::vector<double> times)
{
    Timing t;
    if (times.empty())
        return t;
    std::sort(times.begin(), times.end());
    for (double ms : times)
        t.mean += ms;
    t.mean /= static_cast<double>(times.size());
    t.median = times[times.size() / 2];
    t.max = times.back();
    return t;
}

// The first frames only build the reference and the tracks.
constexpr int kWarmUp = 5;

void benchTracker(int blobs, int frames)
{
    Tracker tracker;
    tracker.reset();
    tracker.detector().set_mask(benchMask());
    Scene scene(blobs, 1234u + static_cast<unsigned>(blobs));
    cv::Mat grey;
    std::vector<double> times;
    size_t tracks = 0;
    for (int i = 0; i < frames + kWarmUp; ++i) {
        scene.next(i, grey);
        const Clock::time_point start = Clock::now();
        tracker.process(grey);
        const double ms = msSince(start);
        if (i >= kWarmUp) {
            times.push_back(ms);
            tracks += tracker.trackedTargets().size();
        }
    }
    const Timing t = summarise(times);
    std::printf("Tracker::process      1920x1080, %3d blobs: %8.3f ms/frame (median %.3f, max "
                "%.3f, %d frames, %.0f tracks on average)\n",
        blobs, t.mean, t.median, t.max, frames, static_cast<double>(tracks) / frames);
}

// A whole counting method per frame: detection, tracking and counting at a
// box in the middle of benchMask, or at a line across it (events go to a
// count file in a temporary folder).
void benchCounting(CountingMethod::Kind kind, int blobs, int frames, bool atLine)
{
    AreaContour zones;
    for (const cv::Point &p :
        std::vector<cv::Point> { { 60, 40 }, { 1860, 60 }, { 1880, 1040 }, { 40, 1020 } })
        zones.addMaskPoint(p);
    zones.closeMask();
    const std::vector<cv::Point> box { { 860, 440 }, { 1060, 440 }, { 1060, 640 }, { 860, 640 } };
    const std::vector<cv::Point> line { { 960, 60 }, { 960, 1020 } };
    for (const cv::Point &p : atLine ? line : box)
        zones.addAreaPoint(p);
    zones.closeArea();
    zones.computeAreaSegments(kFrameSize, 0);
    QTemporaryDir dir;
    CountingMethod::Step step;
    step.countingBox = zones.getArea();
    zones.getAreaSegments(step.countingSegments);
    step.trackingBox = zones.getMask();
    step.fps = 90;
    step.startTime = QDateTime::currentDateTime();
    InsectDetect recorder;
    recorder.setEventSink(
        [countFile = dir.filePath(QStringLiteral("bench.csv"))](
            const Result &event) { return ResultFile::append(countFile, event); });

    std::unique_ptr<CountingMethod> method = CountingMethod::create(kind);
    method->reset(zones.createMask(kFrameSize, 0));
    method->startVideo(kFrameSize, 90);
    Scene scene(blobs, 1234u + static_cast<unsigned>(blobs));
    cv::Mat grey;
    std::vector<double> times;
    size_t events = 0;
    for (int i = 0; i < frames + kWarmUp; ++i) {
        scene.next(i, grey);
        step.frame = 90 + i;
        const Clock::time_point start = Clock::now();
        if (method->process(grey))
            events += static_cast<size_t>(method->count(step, recorder).size());
        const double ms = msSince(start);
        if (i >= kWarmUp)
            times.push_back(ms);
    }
    const Timing t = summarise(times);
    std::printf("%-7s counting %-4s 1920x1080, %3d blobs: %8.3f ms/frame (median %.3f, max "
                "%.3f, %zu events)\n",
        qPrintable(CountingMethod::kindName(kind)), atLine ? "line" : "box", blobs, t.mean,
        t.median, t.max, events);
}

// The detector alone on the same scenes, its targets handed back at once.
void benchDetector(int blobs, int frames)
{
    TargetPool::instance().resize(1000);
    MvtDetector detector;
    detector.set_mask(benchMask());
    Scene scene(blobs, 1234u + static_cast<unsigned>(blobs));
    cv::Mat grey;
    TargetList found;
    std::vector<double> times;
    size_t blobsFound = 0;
    for (int i = 0; i < frames + kWarmUp; ++i) {
        scene.next(i, grey);
        const Clock::time_point start = Clock::now();
        detector.detectabsdiff(grey, found);
        const double ms = msSince(start);
        if (i >= kWarmUp) {
            times.push_back(ms);
            blobsFound += found.size();
        }
        for (Target *t : found)
            TargetPool::instance().release(t);
        found.clear();
    }
    TargetPool::destroy();
    const Timing t = summarise(times);
    std::printf("MvtDetector alone     1920x1080, %3d blobs: %8.3f ms/frame (median %.3f, max "
                "%.3f, %.0f targets on average)\n",
        blobs, t.mean, t.median, t.max, static_cast<double>(blobsFound) / frames);
}

void benchMunkres(int n, int repeats)
{
    cv::RNG rng(99u + static_cast<unsigned>(n));
    std::vector<cv::Mat> inputs;
    for (int i = 0; i < repeats; ++i) {
        cv::Mat m(n, n, CV_32SC1);
        rng.fill(m, cv::RNG::UNIFORM, 1, 2203);
        inputs.push_back(m);
    }
    Munkres munkres;
    const Clock::time_point start = Clock::now();
    for (cv::Mat &m : inputs)
        munkres.solve(m);
    std::printf("Munkres::solve %3dx%-3d: %10.3f ms/call (%d calls, costs 1..2202)\n", n, n,
        msSince(start) / repeats, repeats);
}

void benchDecode(int frames)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("clip.mp4"));
    const std::string file = QFile::encodeName(path).toStdString();
    {
        cv::VideoWriter writer(
            file, cv::VideoWriter::fourcc('a', 'v', 'c', '1'), 90.0, kFrameSize, true);
        if (!writer.isOpened()) {
            std::printf("H.264 decode: no \"avc1\" writer available\n");
            return;
        }
        Scene scene(50, 77u);
        cv::Mat grey;
        cv::Mat colour;
        for (int i = 0; i < frames; ++i) {
            scene.next(i, grey);
            cv::cvtColor(grey, colour, cv::COLOR_GRAY2BGR);
            writer.write(colour);
        }
    }
    for (const bool toGrey : { false, true }) {
        cv::VideoCapture capture(file);
        if (!capture.isOpened()) {
            std::printf("H.264 decode: cannot read the clip back\n");
            return;
        }
        cv::Mat frame;
        cv::Mat grey;
        int read = 0;
        const Clock::time_point start = Clock::now();
        while (capture.read(frame)) {
            if (toGrey)
                cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
            ++read;
        }
        std::printf("H.264 decode 1920x1080 (cv::VideoCapture::read%s): %8.3f ms/frame (%d "
                    "frames)\n",
            toGrey ? " + grey conversion" : "", msSince(start) / std::max(read, 1), read);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    kestrin::installMessagePattern();
    QLoggingCategory::setFilterRules(QStringLiteral("kestrin.*.debug=false"));
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const std::string only = argc > 2 ? argv[2] : "";
    const auto wanted = [&only](const char *part) { return only.empty() || only == part; };
    std::printf("OpenCV %s, %d threads\n", CV_VERSION, cv::getNumThreads());

    if (wanted("tracker")) {
        for (const int blobs : { 5, 50, 500 })
            benchTracker(blobs, frames);
    }
    if (wanted("counting")) {
        for (const bool atLine : { false, true }) {
            for (const int blobs : { 5, 50, 500 }) {
                for (const CountingMethod::Kind kind :
                    { CountingMethod::Classic, CountingMethod::Robust })
                    benchCounting(kind, blobs, frames, atLine);
            }
        }
    }
    if (wanted("detector")) {
        for (const int blobs : { 5, 50, 500 })
            benchDetector(blobs, frames);
    }
    if (wanted("munkres")) {
        benchMunkres(10, 2000);
        benchMunkres(100, 20);
        benchMunkres(500, 1);
    }
    if (wanted("decode"))
        benchDecode(std::max(frames, 90));
    return 0;
}
