#include "scenes/groundtruthscene.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <QFile>

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

cv::Point2d GroundTruthScene::pictureAt(const Insect &insect, int index) const
{
    return positionAt(insect, index) + drift * index;
}

GroundTruthScene::Direction GroundTruthScene::directionOf(
    const cv::Point2d &from, const cv::Point2d &to, const cv::Point2d &a, const cv::Point2d &b)
{
    const double before = sideOf(from, a, b);
    const double after = sideOf(to, a, b);
    if (before < 0 && after > 0)
        return Direction::LeftToRight;
    if (before > 0 && after < 0)
        return Direction::RightToLeft;
    return Direction::None;
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
    const cv::Mat *ground = &background;
    if (drift != cv::Point2d()) {
        const cv::Point2d by = drift * index;
        const cv::Matx23d move(1, 0, by.x, 0, 1, by.y);
        cv::warpAffine(background, shifted, move, frameSize, cv::INTER_LINEAR, cv::BORDER_REFLECT);
        ground = &shifted;
    }
    cv::add(*ground, noise[static_cast<size_t>(index % kNoiseLayers)], sum);
    sum.convertTo(grey, CV_8UC1, 1.0, light);
    for (size_t i = 0; i < insects.size(); ++i)
        drawInsect(i, index);
    cv::cvtColor(grey, frame, cv::COLOR_GRAY2BGR);
}

// A disc, or an ellipse along its heading; wings and legs change every
// frame (a fresh draw from the frame's index), as a walker's or a
// flier's do.
void GroundTruthScene::drawInsect(size_t which, int index) const
{
    constexpr int kShift = 4; // sub-pixel positions, 1/16 px
    constexpr double kOne = 1 << kShift;
    const auto fixed
        = [](const cv::Point2d &p) { return cv::Point(cvRound(p.x * kOne), cvRound(p.y * kOne)); };
    const Insect &insect = insects[which];
    const cv::Point2d at = pictureAt(insect, index);
    if (insect.elongation <= 1 && !insect.appendages) {
        cv::circle(grey, fixed(at), cvRound(insect.radius * kOne), cv::Scalar(insect.level),
            cv::FILLED, cv::LINE_AA, kShift);
        return;
    }
    // Heading: the last move, looked for up to two seconds back.
    cv::Point2d heading(1, 0);
    for (int back = 0; back < static_cast<int>(2 * rate); ++back) {
        const cv::Point2d step
            = positionAt(insect, index + 1 - back) - positionAt(insect, index - back);
        if (std::hypot(step.x, step.y) > 1e-6) {
            heading = step / std::hypot(step.x, step.y);
            break;
        }
    }
    const cv::Point2d across(-heading.y, heading.x);
    const double angle = std::atan2(heading.y, heading.x) * 180.0 / CV_PI;
    // The body has the area of the disc of `radius`.
    const double half = insect.radius * std::sqrt(std::max(1.0, insect.elongation));
    const double width = insect.radius * insect.radius / half;
    if (insect.appendages) {
        cv::RNG rng(
            static_cast<uint64>(seed) * 1000003u + which * 7919u + static_cast<uint64>(index));
        const int wingLevel = std::min(255, insect.level + 50);
        if (rng.uniform(0, 3) != 0) { // wings blur out now and then
            for (const double sign : { -1.0, 1.0 }) {
                const double spread = rng.uniform(20.0, 70.0);
                const cv::Point2d root
                    = at - heading * (0.3 * half) + across * (sign * 0.5 * width);
                cv::ellipse(grey, fixed(root + across * (sign * 0.6 * half)),
                    cv::Size(cvRound(0.8 * half * kOne), cvRound(0.35 * width * kOne)),
                    angle + 90 * sign - sign * spread, 0, 360, cv::Scalar(wingLevel), cv::FILLED,
                    cv::LINE_AA, kShift);
            }
        }
        const int thickness = std::max(1, cvRound(width / 3));
        for (const double sign : { -1.0, 1.0 }) {
            for (int leg = -1; leg <= 1; ++leg) {
                const double turn = (leg * 35.0 + rng.uniform(-15.0, 15.0)) * CV_PI / 180.0;
                const cv::Point2d out = across * (sign * std::cos(turn)) + heading * std::sin(turn);
                const cv::Point2d root = at + heading * (0.4 * leg * half);
                cv::line(grey, fixed(root),
                    fixed(root + out * (width + insect.radius * rng.uniform(0.6, 1.3))),
                    cv::Scalar(insect.level), thickness, cv::LINE_AA, kShift);
            }
        }
    }
    cv::ellipse(grey, fixed(at), cv::Size(cvRound(half * kOne), cvRound(width * kOne)), angle, 0,
        360, cv::Scalar(insect.level), cv::FILLED, cv::LINE_AA, kShift);
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
// than that on the other, through the line itself, in the picture. It
// happens at the frame the insect is clear of the line on the new side, and
// only counts if some of it is in the tracking box then: one that flies
// along the line out of the frame and turns there cannot be seen to cross.
void GroundTruthScene::touching(
    const Insect &insect, const std::vector<double> &distance, Event &event) const
{
    const double reach
        = std::max(kSideMargin, insect.radius * std::sqrt(std::max(1.0, insect.elongation)));
    // A second at most each way: an insect may rest with its head over it.
    const int most = static_cast<int>(std::lround(rate));
    const int index = event.frame + 1;
    int first = index;
    while (first > 0 && index - first < most
        && std::abs(distance[static_cast<size_t>(first - 1)]) <= reach)
        --first;
    int last = index;
    while (last + 1 < frameCount && last - index < most
        && std::abs(distance[static_cast<size_t>(last + 1)]) <= reach)
        ++last;
    event.first = first - 1;
    event.last = last - 1;
}

void GroundTruthScene::crossings(int which, std::vector<Event> &events) const
{
    const Insect &insect = insects[static_cast<size_t>(which)];
    const cv::Point2d a(counting[0]);
    const cv::Point2d b(counting[1]);
    const std::vector<cv::Point2f> area = asFloat(tracking);
    std::vector<double> distances(static_cast<size_t>(frameCount));
    for (int index = 0; index < frameCount; ++index)
        distances[static_cast<size_t>(index)] = sideOf(pictureAt(insect, index), a, b);
    int side = 0;
    cv::Point2d sidePosition;
    for (int index = 0; index < frameCount; ++index) {
        const cv::Point2d p = pictureAt(insect, index);
        const double distance = distances[static_cast<size_t>(index)];
        const int now = distance > kSideMargin ? 1 : distance < -kSideMargin ? -1 : 0;
        if (now == 0)
            continue;
        if (side != 0 && now != side && index >= kFirstProcessed) {
            const double u = crossingAlong(sidePosition, p, a, b);
            if (u >= 0 && u <= 1
                && (area.size() < 3
                    || cv::pointPolygonTest(area, cv::Point2f(p), true) > -insect.radius)) {
                Event event { index - 1, cv::Point(cvRound(p.x), cvRound(p.y)), Crossing, which,
                    directionOf(sidePosition, p, a, b) };
                touching(insect, distances, event);
                events.push_back(event);
            }
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
    std::vector<double> depths(static_cast<size_t>(frameCount));
    for (int index = 0; index < frameCount; ++index)
        depths[static_cast<size_t>(index)]
            = cv::pointPolygonTest(box, cv::Point2f(pictureAt(insect, index)), true);
    int state = 0; // -1 outside, +1 inside
    cv::Point2d statePosition;
    for (int index = 0; index < frameCount; ++index) {
        const cv::Point2d p = pictureAt(insect, index);
        const double depth = depths[static_cast<size_t>(index)];
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
            if (counted) {
                Event event { index - 1, cv::Point(cvRound(p.x), cvRound(p.y)),
                    now > 0 ? Entry : Exit, which };
                touching(insect, depths, event);
                events.push_back(event);
            }
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
    saveBoxes(videoPath, counting, tracking);
    return true;
}

AreaContour GroundTruthScene::saveBoxes(const QString &videoPath,
    const std::vector<cv::Point> &counting, const std::vector<cv::Point> &tracking)
{
    AreaContour zones;
    for (const cv::Point &p : counting)
        zones.addAreaPoint(p);
    zones.closeArea();
    for (const cv::Point &p : tracking)
        zones.addMaskPoint(p);
    zones.closeMask();
    zones.saveArea(videoPath);
    zones.saveMask(videoPath);
    return zones;
}
