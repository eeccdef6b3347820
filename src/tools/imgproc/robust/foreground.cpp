#include "foreground.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace {

// Differences beyond this are insects or a change of light, not noise.
constexpr float kClip = 60.0f;
// Rounds of k-means that refine the split of a blob.
constexpr int kRounds = 3;

} // namespace

void Foreground::reset(const cv::Mat &mask, const RobustParameters::Video &video)
{
    config = video;
    fullMask = mask.clone();
    workMask.release();
    background.release();
    frames = 0;
}

void Foreground::setVideo(const RobustParameters::Video &video)
{
    const int factor = config.factor;
    config = video;
    // The working size is the run's: its frames all have the mask's size.
    config.factor = factor;
}

bool Foreground::accepts(const cv::Mat &grey) const
{
    return grey.type() == CV_8UC1 && !grey.empty()
        && (fullMask.empty() || grey.size() == fullMask.size());
}

const std::vector<Foreground::Blob> &Foreground::detect(const cv::Mat &grey)
{
    blobs.clear();
    const int f = config.factor;
    const cv::Size work(std::max(1, grey.cols / f), std::max(1, grey.rows / f));
    if (f > 1)
        cv::resize(grey, shrunk, work, 0, 0, cv::INTER_AREA);
    else
        shrunk = grey;
    if (workMask.size() != work) {
        if (fullMask.empty()) {
            workMask = cv::Mat(work, CV_8UC1, cv::Scalar(255));
        } else {
            cv::resize(fullMask, workMask, work, 0, 0, cv::INTER_AREA);
            cv::threshold(workMask, workMask, 127, 255, cv::THRESH_BINARY);
        }
    }
    if (background.size() != work) {
        shrunk.convertTo(background, CV_32F);
        moving = cv::Mat::zeros(work, CV_8UC1);
        frames = 1;
        return blobs;
    }
    update(shrunk);

    const int count = cv::connectedComponentsWithStats(moving, labels, stats, centroids, 8, CV_32S);
    for (int label = 1; label < count; ++label) {
        const double area = stats.at<int>(label, cv::CC_STAT_AREA);
        if (area < config.minArea)
            continue;
        const cv::Point2d c(centroids.at<double>(label, 0), centroids.at<double>(label, 1));
        blobs.push_back({ toFrame(c), area, label,
            cv::Rect(stats.at<int>(label, cv::CC_STAT_LEFT), stats.at<int>(label, cv::CC_STAT_TOP),
                stats.at<int>(label, cv::CC_STAT_WIDTH),
                stats.at<int>(label, cv::CC_STAT_HEIGHT)) });
    }
    return blobs;
}

cv::Point2d Foreground::toFrame(const cv::Point2d &p) const
{
    const double f = config.factor;
    return (p + cv::Point2d(0.5, 0.5)) * f - cv::Point2d(0.5, 0.5);
}

cv::Rect2d Foreground::frameBox(const Blob &blob) const
{
    const double f = config.factor;
    return cv::Rect2d(blob.box.x * f, blob.box.y * f, blob.box.width * f, blob.box.height * f);
}

// One pass: the frame's offset from the background and its noise, from a
// sample of pixels, then each pixel compared and its background moved on.
void Foreground::update(const cv::Mat &small)
{
    double sum = 0;
    double absSum = 0;
    int n = 0;
    for (int y = 0; y < small.rows; y += 4) {
        const uchar *in = small.ptr<uchar>(y);
        const uchar *open = workMask.ptr<uchar>(y);
        const float *bg = background.ptr<float>(y);
        for (int x = 0; x < small.cols; x += 2) {
            if (!open[x])
                continue;
            const float d = std::clamp(in[x] - bg[x], -kClip, kClip);
            sum += d;
            absSum += std::abs(d);
            ++n;
        }
    }
    const float offset = n > 0 ? static_cast<float>(sum / n) : 0.0f;
    const double spread = n > 0 ? std::max(0.0, absSum / n - std::abs(offset)) : 0.0;
    const float threshold
        = static_cast<float>(std::max(RobustParameters::value(RobustParameters::MinThreshold),
            RobustParameters::value(RobustParameters::NoiseFactor) * spread));

    const bool learning = frames < config.learnFrames;
    const float learnWeight = 1.0f / static_cast<float>(frames + 1);
    const float step = static_cast<float>(config.backgroundStep);
    const float slow
        = step * static_cast<float>(RobustParameters::value(RobustParameters::ForegroundShare));
    ++frames;
    for (int y = 0; y < small.rows; ++y) {
        const uchar *in = small.ptr<uchar>(y);
        const uchar *open = workMask.ptr<uchar>(y);
        float *bg = background.ptr<float>(y);
        uchar *out = moving.ptr<uchar>(y);
        for (int x = 0; x < small.cols; ++x) {
            const float d = static_cast<float>(in[x]) - offset - bg[x];
            const bool seen = std::abs(d) > threshold;
            out[x] = seen && open[x] ? 255 : 0;
            if (learning) {
                bg[x] += d * learnWeight;
            } else {
                const float s = seen ? slow : step;
                bg[x] += std::clamp(d, -s, s);
            }
        }
    }
    // Single stray pixels are noise; an insect's body is thicker than its legs.
    cv::morphologyEx(
        moving, moving, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));
}

void Foreground::split(
    const Blob &blob, const std::vector<cv::Point2d> &seeds, std::vector<Blob> &parts)
{
    pixels.clear();
    for (int y = blob.box.y; y < blob.box.y + blob.box.height; ++y) {
        const int *row = labels.ptr<int>(y);
        for (int x = blob.box.x; x < blob.box.x + blob.box.width; ++x) {
            if (row[x] == blob.label)
                pixels.emplace_back(x, y);
        }
    }
    const double f = config.factor;
    std::vector<cv::Point2d> centres;
    for (const cv::Point2d &s : seeds)
        centres.push_back((s + cv::Point2d(0.5, 0.5)) / f - cv::Point2d(0.5, 0.5));
    std::vector<cv::Point2d> sums(centres.size());
    std::vector<int> counts(centres.size());
    for (int round = 0; round < kRounds; ++round) {
        std::fill(sums.begin(), sums.end(), cv::Point2d());
        std::fill(counts.begin(), counts.end(), 0);
        for (const cv::Point2d &p : pixels) {
            size_t best = 0;
            double bestDistance = -1;
            for (size_t k = 0; k < centres.size(); ++k) {
                const cv::Point2d d = p - centres[k];
                const double distance = d.dot(d);
                if (bestDistance < 0 || distance < bestDistance) {
                    bestDistance = distance;
                    best = k;
                }
            }
            sums[best] += p;
            counts[best] += 1;
        }
        for (size_t k = 0; k < centres.size(); ++k) {
            if (counts[k] > 0)
                centres[k] = sums[k] / counts[k];
        }
    }
    for (size_t k = 0; k < centres.size(); ++k) {
        if (counts[k] > 0)
            parts.push_back(
                { toFrame(centres[k]), static_cast<double>(counts[k]), blob.label, blob.box });
    }
}
