#include "groundtruthscene.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <QFile>

#include "areacontour.h"

namespace {

constexpr int kNoiseLayers = 8;
constexpr double kNoiseSigma = 1.2;
constexpr int kFirstProcessed = 91; // frame index; the count file calls it 90

double sideOf(const cv::Point2d &p, const cv::Point2d &a, const cv::Point2d &b)
{
    const cv::Point2d ab = b - a;
    const double span = std::hypot(ab.x, ab.y);
    return span > 0 ? (ab.x * (p.y - a.y) - ab.y * (p.x - a.x)) / span : 0.0;
}

// Where the step p-q meets the line a-b, as a fraction of a-b, or -1.
double crossingAlong(
    const cv::Point2d &p, const cv::Point2d &q, const cv::Point2d &a, const cv::Point2d &b)
{
    const cv::Point2d r = q - p;
    const cv::Point2d s = b - a;
    const double denominator = r.x * s.y - r.y * s.x;
    if (std::abs(denominator) < 1e-12)
        return -1;
    const cv::Point2d ap = a - p;
    const double t = (ap.x * s.y - ap.y * s.x) / denominator; // along p-q
    const double u = (ap.x * r.y - ap.y * r.x) / denominator; // along a-b
    return t >= 0 && t <= 1 ? u : -1;
}

std::vector<cv::Point2f> asFloat(const std::vector<cv::Point> &points)
{
    return std::vector<cv::Point2f>(points.begin(), points.end());
}

} // namespace

GroundTruthScene::GroundTruthScene(
    const QString &name, cv::Size size, double fps, int frames, unsigned seed)
    : sceneName(name)
    , frameSize(size)
    , rate(fps)
    , frameCount(frames)
    , seed(seed)
{
}

cv::Point2d GroundTruthScene::positionAt(const Insect &insect, int index)
{
    if (insect.path.empty())
        return {};
    const int step = std::clamp(index - insect.start, 0, static_cast<int>(insect.path.size()) - 1);
    return insect.path[static_cast<size_t>(step)];
}

void GroundTruthScene::prepareBackground() const
{
    if (!background.empty())
        return;
    cv::RNG rng(seed);
    cv::Mat coarse(frameSize.height / 24 + 2, frameSize.width / 24 + 2, CV_32FC1);
    rng.fill(coarse, cv::RNG::UNIFORM, 80.0, 180.0);
    cv::Mat smooth;
    cv::resize(coarse, smooth, frameSize, 0, 0, cv::INTER_CUBIC);
    cv::Mat fine(frameSize, CV_32FC1);
    rng.fill(fine, cv::RNG::UNIFORM, -10.0, 10.0);
    cv::GaussianBlur(fine, fine, cv::Size(5, 5), 1.5);
    cv::Mat textured = smooth + fine;
    textured.convertTo(background, CV_16SC1);
    for (int i = 0; i < kNoiseLayers; ++i) {
        cv::Mat layer(frameSize, CV_16SC1);
        rng.fill(layer, cv::RNG::NORMAL, 0.0, kNoiseSigma);
        noise.push_back(layer);
    }
}

void GroundTruthScene::render(int index, cv::Mat &frame) const
{
    prepareBackground();
    // Slow flicker of the light, never a jump the detector would see.
    const double light = flicker * std::sin(index * 2.0 * CV_PI / (rate * 0.7));
    cv::add(background, noise[static_cast<size_t>(index % kNoiseLayers)], sum);
    sum.convertTo(grey, CV_8UC1, 1.0, light);
    constexpr int kShift = 4; // sub-pixel positions, 1/16 px
    for (const Insect &insect : insects) {
        const cv::Point2d at = positionAt(insect, index);
        cv::circle(grey, cv::Point(cvRound(at.x * (1 << kShift)), cvRound(at.y * (1 << kShift))),
            cvRound(insect.radius * (1 << kShift)), cv::Scalar(insect.level), cv::FILLED,
            cv::LINE_AA, kShift);
    }
    cv::cvtColor(grey, frame, cv::COLOR_GRAY2BGR);
}

std::vector<GroundTruthScene::Event> GroundTruthScene::truth() const
{
    std::vector<Event> events;
    for (size_t i = 0; i < insects.size(); ++i) {
        if (isLine())
            crossings(static_cast<int>(i), events);
        else if (counting.size() >= 3)
            boxPassages(static_cast<int>(i), events);
    }
    std::stable_sort(events.begin(), events.end(),
        [](const Event &a, const Event &b) { return a.frame < b.frame; });
    return events;
}

// A crossing: from more than kSideMargin on one side of the line to more
// than that on the other, through the line itself. It happens at the frame
// the insect is clear of the line on the new side, and only counts if some
// of it is in the tracking box then: one that flies along the line out of
// the frame and turns there cannot be seen to cross.
void GroundTruthScene::crossings(int which, std::vector<Event> &events) const
{
    const Insect &insect = insects[static_cast<size_t>(which)];
    const cv::Point2d a(counting[0]);
    const cv::Point2d b(counting[1]);
    const std::vector<cv::Point2f> area = asFloat(tracking);
    int side = 0;
    cv::Point2d sidePosition;
    for (int index = 0; index < frameCount; ++index) {
        const cv::Point2d p = positionAt(insect, index);
        const double distance = sideOf(p, a, b);
        const int now = distance > kSideMargin ? 1 : distance < -kSideMargin ? -1 : 0;
        if (now == 0)
            continue;
        if (side != 0 && now != side && index >= kFirstProcessed) {
            const double u = crossingAlong(sidePosition, p, a, b);
            if (u >= 0 && u <= 1
                && (area.size() < 3
                    || cv::pointPolygonTest(area, cv::Point2f(p), true) > -insect.radius))
                events.push_back(
                    { index - 1, cv::Point(cvRound(p.x), cvRound(p.y)), Crossing, which });
        }
        side = now;
        sidePosition = p;
    }
}

// An entry: from more than kSideMargin outside the box to more than that
// inside, through a part of its border that lies in the tracking box; an
// exit the other way round.
void GroundTruthScene::boxPassages(int which, std::vector<Event> &events) const
{
    const Insect &insect = insects[static_cast<size_t>(which)];
    const std::vector<cv::Point2f> box = asFloat(counting);
    const std::vector<cv::Point2f> area = asFloat(tracking);
    int state = 0; // -1 outside, +1 inside
    cv::Point2d statePosition;
    for (int index = 0; index < frameCount; ++index) {
        const cv::Point2d p = positionAt(insect, index);
        const double depth = cv::pointPolygonTest(box, cv::Point2f(p), true);
        const int now = depth > kSideMargin ? 1 : depth < -kSideMargin ? -1 : 0;
        if (now == 0)
            continue;
        if (state != 0 && now != state && index >= kFirstProcessed) {
            // The border point passed on the way must be in the tracking box.
            bool counted = false;
            for (size_t k = 0; k < counting.size() && !counted; ++k) {
                const cv::Point2d e1(counting[k]);
                const cv::Point2d e2(counting[(k + 1) % counting.size()]);
                const double u = crossingAlong(statePosition, p, e1, e2);
                if (u < 0 || u > 1)
                    continue;
                const cv::Point2d at = e1 + u * (e2 - e1);
                counted = cv::pointPolygonTest(area, cv::Point2f(at), false) > 0;
            }
            if (counted)
                events.push_back({ index - 1, cv::Point(cvRound(p.x), cvRound(p.y)),
                    now > 0 ? Entry : Exit, which });
        }
        state = now;
        statePosition = p;
    }
}

bool GroundTruthScene::write(const QString &videoPath, const char *fourcc) const
{
    cv::VideoWriter writer(QFile::encodeName(videoPath).toStdString(),
        cv::VideoWriter::fourcc(fourcc[0], fourcc[1], fourcc[2], fourcc[3]), rate, frameSize, true);
    if (!writer.isOpened())
        return false;
    cv::Mat frame;
    for (int index = 0; index < frameCount; ++index) {
        render(index, frame);
        writer.write(frame);
    }
    writer.release();

    AreaContour zones;
    for (const cv::Point &p : counting)
        zones.addAreaPoint(p);
    zones.closeArea();
    for (const cv::Point &p : tracking)
        zones.addMaskPoint(p);
    zones.closeMask();
    zones.saveArea(videoPath);
    zones.saveMask(videoPath);
    return true;
}
