#pragma once

#include <vector>

#include <opencv2/core.hpp>

#include "imgproc/robust/cameradrift.h"
#include "imgproc/robust/robustparameters.h"

// Finds insects as what differs from a background that adapts slowly to each
// pixel (a running median: every frame it moves a fraction of a grey level
// towards the frame), so an insect that walks slowly or stops stays visible
// for seconds. The frame's mean difference from the background is taken off
// first, so a flicker of the light is no motion, and the threshold follows
// the frame's noise. A camera that drifts slowly is followed (CameraDrift):
// the frame is shifted onto the background. Wide frames are shrunk by a
// whole factor first. Each
// blob is the insect's own pixels; one that holds the predicted positions of
// several insects is split among them. Where an insect was when the
// background was taken and is no more, the blob's outline is the
// background's, not the frame's: the background takes the frame there.
//
//   foreground.reset(mask, video);      // mask: 255 where insects are looked for
//   const auto &blobs = foreground.detect(grey);
//   foreground.split(blobs[i], predictions, parts);   // touching insects
class Foreground
{
public:
    struct Blob
    {
        cv::Point2d centre; // frame pixels
        double area = 0; // working pixels
        int label = 0;
        cv::Rect box; // working pixels
    };

    // Forgets the background; the next frame starts it. An empty mask
    // opens the whole frame.
    void reset(const cv::Mat &mask, const RobustParameters::Video &video);
    // 8-bit, one channel, and of the mask's size.
    bool accepts(const cv::Mat &grey) const;
    // The frame at the working size; valid until the next call.
    const cv::Mat &shrink(const cv::Mat &grey);
    // The background as each pixel's median over `frames` (working size):
    // an insect that moves on within them is not part of it.
    void learn(const std::vector<cv::Mat> &frames);
    // The blobs of a working-size frame; without a background yet, the
    // frame starts it and has none.
    const std::vector<Blob> &detect(const cv::Mat &small);
    // The pixels of one of the last frame's blobs shared out among `seeds`
    // (frame pixels), nearest first, then refined by a few rounds of
    // k-means; each part with pixels goes to `parts`.
    void split(const Blob &blob, const std::vector<cv::Point2d> &seeds, std::vector<Blob> &parts);
    // The working size's box of a blob in frame pixels.
    cv::Rect2d frameBox(const Blob &blob) const;

    // 255 where the last frame differed from the background, working size.
    const cv::Mat &mask() const { return moving; }

private:
    void update(const cv::Mat &small);
    void fitMask(const cv::Size &work);
    cv::Point2d toFrame(const cv::Point2d &p) const;
    const cv::Mat &align(const cv::Mat &small);
    // A drift shorter than this (working pixels) leaves the frame as it is,
    // so a camera that stands still costs no interpolation.
    static constexpr double kLeastShift = 0.1;
    static bool moved(const cv::Point2d &by, double least = kLeastShift);

    RobustParameters::Video config;
    cv::Mat fullMask;
    cv::Mat workMask;
    cv::Mat shrunk;
    cv::Mat background; // CV_32F, working size
    CameraDrift drift;
    // Where the frame lies from the background (working pixels, under one):
    // a frame point p is the background's p - offset.
    cv::Point2d offset;
    cv::Point2d velocity; // of the drift, working pixels a frame
    int sinceCheck = 0; // frames since the drift was measured
    cv::Mat aligned;
    cv::Mat moving;
    cv::Mat grouped;
    cv::Mat groupKernel;
    cv::Mat labels;
    struct Sum
    {
        double area = 0;
        double x = 0;
        double y = 0;
        cv::Rect box;
        // Grey-level steps across the blob's outline, in the frame and in
        // the background.
        double frameOutline = 0;
        double backgroundOutline = 0;
    };
    void addOutline(const cv::Mat &now, int x, int y, Sum &g) const;
    void forget(const cv::Mat &now, int label, const cv::Rect &box);
    std::vector<Sum> sums;
    std::vector<Blob> blobs;
    std::vector<cv::Point2d> pixels;
};
