#include "imgproc/robust/trajectorycounter.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace {

double length(const cv::Point2d &v)
{
    return std::hypot(v.x, v.y);
}

cv::Point rounded(const cv::Point2d &p)
{
    return cv::Point(cvRound(p.x), cvRound(p.y));
}

// The nearest point to p on the segment a-b.
cv::Point2d nearestOn(const cv::Point2d &p, const cv::Point2d &a, const cv::Point2d &b)
{
    const cv::Point2d ab = b - a;
    const double span = ab.dot(ab);
    const double t = span > 0 ? std::clamp((p - a).dot(ab) / span, 0.0, 1.0) : 0.0;
    return a + t * ab;
}

} // namespace

void TrajectoryCounter::setZones(
    const std::vector<cv::Point> &counting, const std::vector<cv::Point> &tracking)
{
    line.clear();
    box.clear();
    edges.clear();
    // Any point is a real end, (0, 0) and the frame's edges included.
    if (counting.size() == 2) {
        if (counting[0] != counting[1])
            line = { cv::Point2d(counting[0]), cv::Point2d(counting[1]) };
        return;
    }
    if (counting.size() < 3)
        return;
    for (const cv::Point &p : counting)
        box.emplace_back(p);
    std::vector<cv::Point2f> open;
    for (const cv::Point &p : tracking)
        open.emplace_back(p);
    const auto inside = [&open](const cv::Point2d &p) {
        return open.size() < 3 || cv::pointPolygonTest(open, cv::Point2f(p), false) >= 0;
    };
    // Each edge walked pixel by pixel: its stretches inside the tracking box.
    for (size_t k = 0; k < counting.size(); ++k) {
        const cv::Point2d p(counting[k]);
        const cv::Point2d q(counting[(k + 1) % counting.size()]);
        const int steps = static_cast<int>(std::max(std::abs(q.x - p.x), std::abs(q.y - p.y)));
        bool was = false;
        cv::Point2d from;
        cv::Point2d last;
        for (int s = 0; s <= steps && steps > 0; ++s) {
            const cv::Point2d at = p + (q - p) * (double(s) / steps);
            const bool now = inside(at);
            if (now && !was)
                from = at;
            if (was && (!now || s == steps)) {
                const cv::Point2d to = now ? at : last;
                if (to != from) {
                    edges.push_back(from);
                    edges.push_back(to);
                }
            }
            was = now;
            last = at;
        }
    }
}

void TrajectoryCounter::setVideo(const RobustParameters::Video &video, int firstFrame)
{
    config = video;
    videoStart = firstFrame;
}

bool TrajectoryCounter::confirmed(const Course &c) const
{
    return c.points >= RobustParameters::value(RobustParameters::ConfirmPoints);
}

void TrajectoryCounter::note(Course &c, const Event &e, std::vector<Event> &events) const
{
    if (confirmed(c))
        events.push_back(e);
    else
        c.pending.push_back(e);
}

void TrajectoryCounter::add(int trajectory, const Sample &s, std::vector<Event> &events)
{
    Course &c = courses[trajectory];
    c.raw.push_back(s);
    c.received += 1;
    while (c.smoothed + config.smoothFrames < c.received)
        smoothNext(c, events);
}

// A body's centre wanders as its wings and legs move: each point is the
// mean of those around it, up to `smooth_s` either way.
void TrajectoryCounter::smoothNext(Course &c, std::vector<Event> &events)
{
    // The window shrinks evenly at the trajectory's ends, which stay where
    // they were seen.
    const int j = c.smoothed;
    const int half = std::min({ config.smoothFrames, j, c.received - 1 - j });
    const int from = j - half;
    const int to = j + half;
    Sample mean;
    mean.frame = c.raw[static_cast<size_t>(j - c.rawFirst)].frame;
    for (int k = from; k <= to; ++k) {
        const Sample &r = c.raw[static_cast<size_t>(k - c.rawFirst)];
        mean.at += r.at;
        mean.radius += r.radius;
    }
    mean.at /= double(to - from + 1);
    mean.radius /= double(to - from + 1);
    c.smoothed += 1;
    while (c.rawFirst < c.smoothed - config.smoothFrames) {
        c.raw.pop_front();
        c.rawFirst += 1;
    }
    consider(c, mean, events);
}

void TrajectoryCounter::consider(Course &c, const Sample &s, std::vector<Event> &events)
{
    c.points += 1;
    if (c.points == 1)
        c.first = s;
    if (s.frame - c.first.frame < config.headingFrames)
        c.startSeen += 1;
    c.recent.push_back(s);
    while (c.recent.size() > 1 && s.frame - c.recent[1].frame >= config.headingFrames)
        c.recent.pop_front();
    if (countsLine())
        countLine(c, s, events);
    c.previous = s;
    if (confirmed(c) && !c.pending.empty()) {
        events.insert(events.end(), c.pending.begin(), c.pending.end());
        c.pending.clear();
    }
    if (box.empty())
        return;
    const double out = outside(s.at);
    // Through a counting edge, centre first.
    countPassage(c, s, -out, events, [this](const cv::Point2d &at) {
        cv::Point2d inward;
        return nearEdge(at, &inward);
    });
    if (c.points == 1)
        c.firstOutside = out;
    c.farthestOutside = std::max(c.farthestOutside, out);
    if (c.side < 0)
        c.widest = std::max(c.widest, s.radius);
    if (c.outJudged || c.everIn || !confirmed(c))
        return;
    // Legs or a wing flickering at an edge, an insect walking along it,
    // go nowhere: one came out once it went `edge_reach_px` farther away,
    // or a short way, slowly.
    if (out - c.firstOutside >= config.edgeReach
        || shortWay(
            c, c.first, c.firstOutside, out - c.firstOutside, c.startSeen >= config.headingFrames))
        judgeOut(c, events);
}

double TrajectoryCounter::margin(const Sample &s) const
{
    return std::max(
        config.sideMargin, RobustParameters::value(RobustParameters::SideShare) * s.radius);
}

double TrajectoryCounter::outside(const cv::Point2d &p) const
{
    return -cv::pointPolygonTest(box, cv::Point2f(p), true);
}

void TrajectoryCounter::countLine(Course &c, const Sample &s, std::vector<Event> &events)
{
    const cv::Point2d a = line[0];
    const cv::Point2d ab = line[1] - a;
    const double span = length(ab);
    const double d = (ab.x * (s.at.y - a.y) - ab.y * (s.at.x - a.x)) / span;
    countPassage(c, s, d, events, [&](const cv::Point2d &at) {
        const double along = (at - a).dot(ab) / (span * span);
        const double slack = config.sideMargin / span;
        return along >= -slack && along <= 1 + slack;
    });
}

// `d`: signed distance from the line or the box's edge, positive on the
// side whose reaching counts in (right of a line, inside a box).
template <typename Through>
void TrajectoryCounter::countPassage(
    Course &c, const Sample &s, double d, std::vector<Event> &events, Through through)
{
    if (c.points > 1 && (c.previousSide < 0) != (d < 0)) {
        // Where, between the two points, the centre went over.
        const double u = c.previousSide / (c.previousSide - d);
        const cv::Point2d at = c.previous.at + u * (s.at - c.previous.at);
        c.passed = through(at);
        c.passage
            = { c.previous.frame + static_cast<int>(std::lround(u * (s.frame - c.previous.frame))),
                  at };
    }
    c.previousSide = d;
    // A large insect is on a side once its body is over it.
    if (std::abs(d) <= margin(s))
        return;
    const int side = d < 0 ? -1 : 1;
    if (c.side != 0 && side != c.side && c.passed)
        note(c, { c.passage.frame, rounded(c.passage.at), side > 0 ? 1 : 0, side > 0 ? 0 : 1 },
            events);
    c.side = side;
    c.everIn = c.everIn || side > 0;
    c.passed = false;
}

bool TrajectoryCounter::nearEdge(const cv::Point2d &p, cv::Point2d *inward) const
{
    double nearest = config.edgeReach;
    bool found = false;
    for (size_t k = 0; k + 1 < edges.size(); k += 2) {
        const cv::Point2d q = nearestOn(p, edges[k], edges[k + 1]);
        const double distance = length(p - q);
        if (distance > nearest)
            continue;
        nearest = distance;
        found = true;
        const cv::Point2d along = edges[k + 1] - edges[k];
        cv::Point2d normal(-along.y, along.x);
        normal /= std::max(length(normal), 1e-9);
        if (cv::pointPolygonTest(box, cv::Point2f(q + normal), false) < 0)
            normal = -normal;
        *inward = normal;
    }
    return found;
}

// A slow insect going in or coming out a short way is seen in every frame
// at that end (legs and wings flickering at an edge come and go), wholly out
// beyond its body's margin, and there within that margin of a counting edge
// and smaller than it is wholly out: the box hides part of it.
bool TrajectoryCounter::shortWay(
    const Course &c, const Sample &s, double out, double away, bool steady) const
{
    Sample whole = s;
    whole.radius = c.widest;
    const double reach = margin(whole);
    cv::Point2d inward;
    return steady && c.side < 0 && away >= reach && out <= reach
        && s.radius <= RobustParameters::value(RobustParameters::HiddenShare) * c.widest
        && nearEdge(s.at, &inward);
}

void TrajectoryCounter::judgeOut(Course &c, std::vector<Event> &events)
{
    c.outJudged = true;
    // One seen from the video's first frames was there, not coming out.
    if (c.first.frame <= videoStart + 1)
        return;
    cv::Point2d inward;
    if (nearEdge(c.first.at, &inward))
        events.push_back({ c.first.frame, rounded(c.first.at), 0, 1 });
}

void TrajectoryCounter::end(int trajectory, bool vanished, std::vector<Event> &events)
{
    const auto found = courses.find(trajectory);
    if (found == courses.end())
        return;
    Course &c = found->second;
    while (c.smoothed < c.received)
        smoothNext(c, events);
    // Not seen inside, one went in that came from `edge_reach_px` farther
    // away and vanished at an edge heading in, or a short way slowly (its
    // centre moves little as the box hides it): the box hides it.
    const Sample &last = c.recent.back();
    cv::Point2d inward;
    if (confirmed(c) && !box.empty() && vanished && nearEdge(last.at, &inward)) {
        const double out = outside(last.at);
        const bool steady = static_cast<int>(c.recent.size()) > config.headingFrames
            && last.frame - c.recent.front().frame == static_cast<int>(c.recent.size()) - 1;
        if ((c.side <= 0 && c.farthestOutside - out >= config.edgeReach
                && (last.at - c.recent.front().at).dot(inward) >= config.minHeading)
            || shortWay(c, last, out, c.farthestOutside - out, steady))
            events.push_back({ last.frame, rounded(last.at), 1, 0 });
    }
    courses.erase(found);
}
