#include "imgproc/robust/foreground.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "imgproc/robust/areashrink.h"

namespace {

// Differences beyond this are insects or a change of light, not noise.
constexpr float kClip = 60.0f;
// Rounds of k-means that refine the split of a blob.
constexpr int kRounds = 3;
// Frames the first background's median is taken over.
constexpr size_t kMedianSamples = 25;
// Shorter estimates of a drift are taken for noise.
constexpr double kLeastStep = 0.05;
// Share of a measured change of the drift's speed taken at once.
constexpr double kVelocityGain = 0.5;

} // namespace

void Foreground::reset(const cv::Mat &mask, const RobustParameters::Video &video)
{
    config = video;
    fullMask = mask.clone();
    const int reach = std::max(1, static_cast<int>(std::lround(config.groupGap)));
    groupKernel
        = cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(2 * reach + 1, 2 * reach + 1));
    workMask.release();
    background.release();
    offset = cv::Point2d();
    velocity = cv::Point2d();
    sinceCheck = 0;
}

bool Foreground::accepts(const cv::Mat &grey) const
{
    return grey.type() == CV_8UC1 && !grey.empty()
        && (fullMask.empty() || grey.size() == fullMask.size());
}

const cv::Mat &Foreground::shrink(const cv::Mat &grey)
{
    const int f = config.factor;
    const cv::Size work(std::max(1, grey.cols / f), std::max(1, grey.rows / f));
    if (f == 1)
        shrunk = grey;
    else if (f != 3 || work * 3 != grey.size() || !AreaShrink::byThree(grey, shrunk))
        cv::resize(grey, shrunk, work, 0, 0, cv::INTER_AREA);
    return shrunk;
}

void Foreground::fitMask(const cv::Size &work)
{
    if (workMask.size() == work)
        return;
    if (fullMask.empty()) {
        workMask = cv::Mat(work, CV_8UC1, cv::Scalar(255));
    } else {
        cv::resize(fullMask, workMask, work, 0, 0, cv::INTER_AREA);
        cv::threshold(workMask, workMask, 127, 255, cv::THRESH_BINARY);
    }
}

void Foreground::learn(const std::vector<cv::Mat> &frames)
{
    if (frames.empty())
        return;
    // A median of a few frames spread over the stretch is as good as one of
    // all, and far cheaper.
    const size_t samples = std::min<size_t>(frames.size(), kMedianSamples);
    // Each aligned with the first, should the camera drift.
    std::vector<cv::Mat> aligned(samples);
    std::vector<const cv::Mat *> used;
    cv::Point2d by; // sample to sample the camera moves little: the shifts add up
    for (size_t k = 0; k < samples; ++k) {
        const cv::Mat &f = frames[k * frames.size() / samples];
        if (k > 0)
            by += drift.shift(frames[(k - 1) * frames.size() / samples], f);
        if (moved(by)) {
            drift.shifted(f, by, aligned[k]);
            used.push_back(&aligned[k]);
        } else {
            used.push_back(&f);
        }
    }
    const cv::Mat &first = *used.front();
    background.create(first.size(), CV_32F);
    std::vector<uchar> values(samples);
    for (int y = 0; y < first.rows; ++y) {
        float *bg = background.ptr<float>(y);
        for (int x = 0; x < first.cols; ++x) {
            for (size_t k = 0; k < samples; ++k)
                values[k] = used[k]->ptr<uchar>(y)[x];
            std::nth_element(values.begin(), values.begin() + samples / 2, values.end());
            bg[x] = values[samples / 2];
        }
    }
    moving = cv::Mat::zeros(first.size(), CV_8UC1);
}

const std::vector<Foreground::Blob> &Foreground::detect(const cv::Mat &small)
{
    blobs.clear();
    const cv::Size work = small.size();
    fitMask(work);
    if (background.size() != work) {
        small.convertTo(background, CV_32F);
        moving = cv::Mat::zeros(work, CV_8UC1);
        offset = cv::Point2d();
        velocity = cv::Point2d();
        return blobs;
    }
    const cv::Mat &now = align(small);
    update(now);

    // Pieces of one insect (a body and a wing apart from it, a body cut by
    // a background of its own shade) are one blob: labelled on the mask
    // closed over small gaps, measured on its own pixels.
    cv::morphologyEx(moving, grouped, cv::MORPH_CLOSE, groupKernel);
    const int count = cv::connectedComponents(grouped, labels, 8, CV_32S);
    sums.assign(static_cast<size_t>(count), Sum());
    for (int y = 0; y < moving.rows; ++y) {
        const uchar *own = moving.ptr<uchar>(y);
        const int *row = labels.ptr<int>(y);
        for (int x = 0; x < moving.cols; ++x) {
            if (!own[x])
                continue;
            Sum &g = sums[static_cast<size_t>(row[x])];
            if (g.area == 0)
                g.box = cv::Rect(x, y, 1, 1);
            else
                g.box |= cv::Rect(x, y, 1, 1);
            g.area += 1;
            g.x += x;
            g.y += y;
            addOutline(now, x, y, g);
        }
    }
    const double ghost = RobustParameters::value(RobustParameters::GhostContrast);
    for (int label = 1; label < count; ++label) {
        const Sum &g = sums[static_cast<size_t>(label)];
        if (g.area < config.minArea)
            continue;
        if (g.backgroundOutline > ghost * g.frameOutline) {
            forget(now, label, g.box);
            continue;
        }
        const cv::Point2d c(g.x / g.area, g.y / g.area);
        blobs.push_back({ toFrame(c), g.area, label, g.box });
    }
    return blobs;
}

// An insect's outline is in the frame; where one was when the background
// was taken and is no more (its ghost), the outline is in the background and
// the frame shows the floor that goes on around it.
void Foreground::addOutline(const cv::Mat &now, int x, int y, Sum &g) const
{
    const uchar *in = now.ptr<uchar>(y);
    const float *bg = background.ptr<float>(y);
    const auto edge = [&](int nx, int ny) {
        if (nx < 0 || ny < 0 || nx >= moving.cols || ny >= moving.rows || moving.ptr<uchar>(ny)[nx]
            || !workMask.ptr<uchar>(ny)[nx])
            return;
        g.frameOutline += std::abs(float(in[x]) - float(now.ptr<uchar>(ny)[nx]));
        g.backgroundOutline += std::abs(bg[x] - background.ptr<float>(ny)[nx]);
    };
    edge(x - 1, y);
    edge(x + 1, y);
    edge(x, y - 1);
    edge(x, y + 1);
}

// A ghost's pixels, and the rim around them, take the frame's values: the
// floor is what is there.
void Foreground::forget(const cv::Mat &now, int label, const cv::Rect &box)
{
    const cv::Rect all(cv::Point(), moving.size());
    const cv::Rect around = cv::Rect(box.x - 1, box.y - 1, box.width + 2, box.height + 2) & all;
    cv::Mat region;
    cv::compare(labels(around), label, region, cv::CMP_EQ);
    cv::dilate(region, region, cv::Mat());
    cv::Mat floor;
    now(around).convertTo(floor, CV_32F);
    floor.copyTo(background(around), region);
    moving(around).setTo(0, region);
}

cv::Point2d Foreground::toFrame(const cv::Point2d &p) const
{
    const double f = config.factor;
    return (p + offset + cv::Point2d(0.5, 0.5)) * f - cv::Point2d(0.5, 0.5);
}

cv::Rect2d Foreground::frameBox(const Blob &blob) const
{
    const double f = config.factor;
    return cv::Rect2d((blob.box.x + offset.x) * f, (blob.box.y + offset.y) * f, blob.box.width * f,
        blob.box.height * f);
}

bool Foreground::moved(const cv::Point2d &by, double least)
{
    return std::abs(by.x) >= least || std::abs(by.y) >= least;
}

// The frame shifted onto the background. The background follows the
// camera by whole pixels (what comes into view starts from this frame), the
// frame by the fraction left, so the background is never resampled.
const cv::Mat &Foreground::align(const cv::Mat &small)
{
    const auto current = [&]() -> const cv::Mat & {
        if (!moved(offset))
            return small;
        drift.shifted(small, offset, aligned);
        return aligned;
    };
    // Measured now and then; in between the camera goes on as it went.
    offset += velocity;
    if (++sinceCheck >= config.driftFrames) {
        const cv::Point2d residual = drift.shift(background, current());
        if (moved(residual, kLeastStep)) {
            offset += residual;
            velocity += residual * (kVelocityGain / sinceCheck);
        }
        sinceCheck = 0;
    }
    const cv::Point whole(
        static_cast<int>(std::lround(offset.x)), static_cast<int>(std::lround(offset.y)));
    if (whole == cv::Point())
        return current();
    offset -= cv::Point2d(whole);
    const cv::Mat &now = current();
    cv::Mat followed;
    now.convertTo(followed, CV_32F);
    const cv::Rect all(cv::Point(), background.size());
    const cv::Rect to = (all + whole) & all;
    if (!to.empty())
        background(to - whole).copyTo(followed(to));
    background = followed;
    return now;
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

    const float step = static_cast<float>(config.backgroundStep);
    const float slow
        = step * static_cast<float>(RobustParameters::value(RobustParameters::ForegroundShare));
    for (int y = 0; y < small.rows; ++y) {
        const uchar *in = small.ptr<uchar>(y);
        const uchar *open = workMask.ptr<uchar>(y);
        float *bg = background.ptr<float>(y);
        uchar *out = moving.ptr<uchar>(y);
        for (int x = 0; x < small.cols; ++x) {
            const float d = static_cast<float>(in[x]) - offset - bg[x];
            const bool seen = std::abs(d) > threshold;
            out[x] = seen && open[x] ? 255 : 0;
            const float s = seen ? slow : step;
            bg[x] += std::clamp(d, -s, s);
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
        const uchar *own = moving.ptr<uchar>(y);
        for (int x = blob.box.x; x < blob.box.x + blob.box.width; ++x) {
            if (row[x] == blob.label && own[x])
                pixels.emplace_back(x, y);
        }
    }
    const double f = config.factor;
    std::vector<cv::Point2d> centres;
    for (const cv::Point2d &s : seeds)
        centres.push_back((s + cv::Point2d(0.5, 0.5)) / f - cv::Point2d(0.5, 0.5) - offset);
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
