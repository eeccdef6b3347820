// Writes the frames of a synthetic recording, raw 8-bit BGR, to standard
// output for an encoder to read: 1920x1080, a textured background with a
// little sensor noise, and a few dozen small dark insects flying straight
// and bouncing off the edges. With --boxes VIDEO it saves instead the boxes
// the benchmark runs with: a tracking box over most of the frame and a
// counting box in its middle.
//
//   kestrin-bench-makevideo FRAMES | ffmpeg -f rawvideo -pix_fmt bgr24 -s 1920x1080 -r 90 -i - ...
//   kestrin-bench-makevideo --boxes VIDEO

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <QString>

#include "zones/areacontour.h"

namespace {

const cv::Size kFrameSize(1920, 1080);
constexpr int kInsects = 36;
constexpr int kNoiseLayers = 8;

struct Insect
{
    cv::Point2d position;
    cv::Point2d velocity;
    int radius;
};

int writeFrames(int frames)
{
    cv::RNG rng(20240611u);
    cv::Mat coarse(34, 60, CV_32FC1);
    rng.fill(coarse, cv::RNG::UNIFORM, 70.0, 170.0);
    cv::Mat smooth;
    cv::resize(coarse, smooth, kFrameSize, 0, 0, cv::INTER_CUBIC);
    cv::Mat grey;
    smooth.convertTo(grey, CV_8UC1);
    cv::Mat background;
    cv::Mat channels[] = { grey, grey + 10, grey - 10 };
    cv::merge(channels, 3, background);

    std::vector<cv::Mat> noise;
    for (int i = 0; i < kNoiseLayers; ++i) {
        cv::Mat layer(kFrameSize, CV_8UC3);
        rng.fill(layer, cv::RNG::UNIFORM, 0, 3);
        noise.push_back(layer);
    }
    std::vector<Insect> swarm;
    for (int i = 0; i < kInsects; ++i) {
        const double angle = rng.uniform(0.0, 2.0 * CV_PI);
        const double speed = rng.uniform(2.0, 8.0);
        swarm.push_back(
            { cv::Point2d(rng.uniform(0, kFrameSize.width), rng.uniform(0, kFrameSize.height)),
                cv::Point2d(speed * std::cos(angle), speed * std::sin(angle)), rng.uniform(3, 7) });
    }

    cv::Mat frame(kFrameSize, CV_8UC3);
    for (int index = 0; index < frames; ++index) {
        cv::add(background, noise[static_cast<size_t>(index % kNoiseLayers)], frame);
        for (Insect &insect : swarm) {
            insect.position += insect.velocity;
            if (insect.position.x < 0 || insect.position.x >= kFrameSize.width)
                insect.velocity.x = -insect.velocity.x;
            if (insect.position.y < 0 || insect.position.y >= kFrameSize.height)
                insect.velocity.y = -insect.velocity.y;
            cv::circle(frame, cv::Point(cvRound(insect.position.x), cvRound(insect.position.y)),
                insect.radius, cv::Scalar(25, 30, 20), cv::FILLED);
        }
        const size_t bytes = frame.total() * frame.elemSize();
        if (std::fwrite(frame.data, 1, bytes, stdout) != bytes)
            return 1;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

void saveBoxes(const QString &video)
{
    AreaContour zones;
    for (const cv::Point &p :
        std::vector<cv::Point> { { 60, 40 }, { 1860, 60 }, { 1880, 1040 }, { 40, 1020 } })
        zones.addMaskPoint(p);
    zones.closeMask();
    for (const cv::Point &p :
        std::vector<cv::Point> { { 760, 340 }, { 1160, 340 }, { 1160, 740 }, { 760, 740 } })
        zones.addAreaPoint(p);
    zones.closeArea();
    zones.saveMask(video);
    zones.saveArea(video);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && std::strcmp(argv[1], "--boxes") == 0) {
        saveBoxes(QString::fromLocal8Bit(argv[2]));
        return 0;
    }
    const int frames = argc == 2 ? std::atoi(argv[1]) : 0;
    if (frames <= 0) {
        std::fprintf(stderr,
            "usage: kestrin-bench-makevideo FRAMES > raw.bgr\n"
            "       kestrin-bench-makevideo --boxes VIDEO\n");
        return 2;
    }
    return writeFrames(frames);
}
