#include "scenes/scenemaker.h"

#include <cmath>
#include <utility>

namespace {

using Path = SceneMaker::Path;

cv::Point2d unit(const cv::Point2d &v)
{
    const double n = std::hypot(v.x, v.y);
    return n > 0 ? v / n : cv::Point2d(1, 0);
}

// A path built leg by leg, one position per frame.
class PathMaker
{
public:
    explicit PathMaker(const cv::Point2d &start) { path.push_back(start); }
    cv::Point2d here() const { return path.back(); }
    int frames() const { return static_cast<int>(path.size()); }
    void moveTo(const cv::Point2d &to, double speed)
    {
        const cv::Point2d from = here();
        const int steps = std::max(
            1, static_cast<int>(std::ceil(std::hypot(to.x - from.x, to.y - from.y) / speed)));
        for (int i = 1; i <= steps; ++i)
            path.push_back(from + (to - from) * (static_cast<double>(i) / steps));
    }
    void hold(int frames) { path.insert(path.end(), static_cast<size_t>(frames), here()); }
    // Darts about `centre`, at most `amplitude` px off it each way.
    void hover(int frames, double amplitude, cv::RNG &rng)
    {
        const cv::Point2d centre = here();
        for (int i = 0; i < frames; ++i)
            path.push_back(centre
                + cv::Point2d(
                    rng.uniform(-amplitude, amplitude), rng.uniform(-amplitude, amplitude)));
    }
    Path path;
};

// The box's edges as (corner, next corner), closing it.
std::vector<std::pair<cv::Point2d, cv::Point2d>> edgesOf(const std::vector<cv::Point> &box)
{
    std::vector<std::pair<cv::Point2d, cv::Point2d>> edges;
    for (size_t k = 0; k < box.size(); ++k)
        edges.emplace_back(cv::Point2d(box[k]), cv::Point2d(box[(k + 1) % box.size()]));
    return edges;
}

// A point on one of the box's edges, away from its corners, and the way in
// there.
std::pair<cv::Point2d, cv::Point2d> onEdge(cv::RNG &rng, const std::vector<cv::Point> &box)
{
    const auto edges = edgesOf(box);
    cv::Point2d centre;
    for (const cv::Point &p : box)
        centre += cv::Point2d(p) / static_cast<double>(box.size());
    const auto &edge = edges[static_cast<size_t>(rng.uniform(0, static_cast<int>(edges.size())))];
    const cv::Point2d e = edge.first + (edge.second - edge.first) * rng.uniform(0.15, 0.85);
    cv::Point2d inward
        = unit(cv::Point2d(-(edge.second - edge.first).y, (edge.second - edge.first).x));
    if (inward.dot(centre - e) < 0)
        inward = -inward;
    return { e, inward };
}

} // namespace

cv::Point2d SceneMaker::rotate(const cv::Point2d &v, double degrees)
{
    const double r = degrees * CV_PI / 180.0;
    return { v.x * std::cos(r) - v.y * std::sin(r), v.x * std::sin(r) + v.y * std::cos(r) };
}

void SceneMaker::lineInsects(const cv::Point2d &a, const cv::Point2d &b, int count)
{
    const cv::Point2d along = unit(b - a);
    const cv::Point2d normal(-along.y, along.x);
    for (int i = 0; i < count; ++i) {
        const cv::Point2d c = a + (b - a) * rng.uniform(0.15, 0.85);
        const double sign = rng.uniform(0, 2) ? 1.0 : -1.0;
        const cv::Point2d d = rotate(normal * sign, rng.uniform(-50.0, 50.0));
        const double v = speed();
        const double kind = rng.uniform(0.0, 1.0);
        if (kind < 0.30) { // straight across
            PathMaker p(c - d * length(80, 200));
            p.moveTo(c, v);
            p.moveTo(c + d * length(80, 200), v);
            add("straight across", p.path);
        } else if (kind < 0.45) { // two insects passing close, one from each side
            const cv::Point2d offset = along * length(15, 40);
            PathMaker p(c - d * px(150));
            p.moveTo(c, v);
            const int meet1 = p.frames() - 1;
            p.moveTo(c + d * px(150), v);
            const double v2 = speed();
            PathMaker q(c + offset + d * px(150));
            q.moveTo(c + offset, v2);
            const int meet2 = q.frames() - 1;
            q.moveTo(c + offset - d * px(150), v2);
            add("two insects passing close, one from each side", { p.path, q.path },
                { meet1, meet2 });
        } else if (kind < 0.55) { // paths crossing on the line
            const cv::Point2d d2 = rotate(normal * sign, rng.uniform(0, 2) ? 45.0 : -45.0);
            const cv::Point2d d1 = rotate(d2, d2.cross(normal * sign) > 0 ? 90.0 : -90.0);
            PathMaker p(c - d1 * px(150));
            p.moveTo(c, v);
            const int meet1 = p.frames() - 1;
            p.moveTo(c + d1 * px(150), v);
            PathMaker q(c - d2 * px(150));
            const double v2 = speed();
            q.moveTo(c, v2);
            const int meet2 = q.frames() - 1;
            q.moveTo(c + d2 * px(150), v2);
            add("paths crossing on the line", { p.path, q.path }, { meet1, meet2 });
        } else if (kind < 0.67) { // sits on the line, then goes on or back
            PathMaker p(c - d * length(80, 200));
            p.moveTo(c + along * px(rng.uniform(-1.0, 1.0)), v);
            p.hold(seconds(0.4, 1.5));
            const bool across = rng.uniform(0.0, 1.0) < 0.7;
            p.moveTo(c + (across ? d : -d) * length(80, 200), speed());
            add("sits on the line, then goes on or back", p.path);
        } else if (kind < 0.75) { // hovers on the line, then leaves to either side
            PathMaker p(c - d * length(80, 200));
            p.moveTo(c + normal * px(rng.uniform(-0.5, 0.5)), v);
            p.hover(seconds(0.8, 1.5), px(2.0), rng);
            p.moveTo(c + (rng.uniform(0, 2) ? d : -d) * length(80, 200), speed());
            add("hovers on the line, then leaves to either side", p.path);
        } else if (kind < 0.83) { // flies along the line, then leaves to either side
            PathMaker p(c - d * length(80, 200));
            p.moveTo(c, v);
            const double run = length(60, 140) * (rng.uniform(0, 2) ? 1 : -1);
            p.moveTo(
                c + along * run + normal * px(rng.uniform(-1.0, 1.0)), std::max(px(3.0), v * 0.6));
            p.moveTo(p.here() + (rng.uniform(0, 2) ? d : -d) * length(80, 200), v);
            add("flies along the line, then leaves to either side", p.path);
        } else if (kind < 0.91) { // comes close and turns back
            PathMaker p(c - d * length(80, 200));
            p.moveTo(c - d * length(12, 25), v);
            p.moveTo(c - rotate(d, rng.uniform(-40.0, 40.0)) * length(80, 200), v);
            add("comes close and turns back", p.path);
        } else { // leaves the tracking box without crossing
            const cv::Point2d start = c - normal * sign * length(40, 120);
            PathMaker p(start);
            p.moveTo(start + along * px(rng.uniform(0, 2) ? 700 : -700), v);
            add("leaves the tracking box without crossing", p.path);
        }
    }
}

void SceneMaker::boxInsects(const std::vector<cv::Point> &box, int count)
{
    const auto edges = edgesOf(box);
    cv::Point2d centre;
    for (const cv::Point &p : box)
        centre += cv::Point2d(p) / static_cast<double>(box.size());
    for (int i = 0; i < count; ++i) {
        const auto &edge
            = edges[static_cast<size_t>(rng.uniform(0, static_cast<int>(edges.size())))];
        const cv::Point2d e = edge.first + (edge.second - edge.first) * rng.uniform(0.15, 0.85);
        cv::Point2d inward(-(edge.second - edge.first).y, (edge.second - edge.first).x);
        inward = unit(inward);
        if (inward.dot(centre - e) < 0)
            inward = -inward;
        const cv::Point2d d = rotate(inward, rng.uniform(-50.0, 50.0));
        const double v = speed();
        const double kind = rng.uniform(0.0, 1.0);
        if (kind < 0.28) { // enters
            PathMaker p(e - d * length(80, 200));
            p.moveTo(e + d * length(20, 40), v);
            add("enters", p.path);
        } else if (kind < 0.53) { // comes out
            PathMaker p(e + d * length(20, 40));
            p.moveTo(e - d * length(80, 200), v);
            add("comes out", p.path);
        } else if (kind < 0.63) { // goes in and comes out elsewhere
            PathMaker p(e - d * length(80, 160));
            p.moveTo(centre, v);
            p.hold(seconds(0.3, 1.0));
            const auto &other
                = edges[static_cast<size_t>(rng.uniform(0, static_cast<int>(edges.size())))];
            const cv::Point2d exit
                = other.first + (other.second - other.first) * rng.uniform(0.2, 0.8);
            p.moveTo(exit + unit(exit - centre) * length(80, 160), speed());
            add("goes in and comes out elsewhere", p.path);
        } else if (kind < 0.73) { // waits at the border, then goes in or away
            PathMaker p(e - d * length(80, 200));
            p.moveTo(e - inward * length(6, 10), v);
            p.hold(seconds(0.4, 1.5));
            const bool in = rng.uniform(0.0, 1.0) < 0.7;
            p.moveTo(in ? e + d * length(20, 40) : e - rotate(d, 30) * length(80, 200), speed());
            add("waits at the border, then goes in or away", p.path);
        } else if (kind < 0.80) { // hovers at the border, then goes in or away
            PathMaker p(e - d * length(80, 200));
            p.moveTo(e - inward * px(10), v);
            p.hover(seconds(0.8, 1.5), px(2.0), rng);
            const bool in = rng.uniform(0, 2) != 0;
            p.moveTo(in ? e + d * length(20, 40) : e - rotate(d, -30) * length(80, 200), speed());
            add("hovers at the border, then goes in or away", p.path);
        } else if (kind < 0.90) { // two insects going in close together, from different directions
            const cv::Point2d side = unit(edge.second - edge.first) * length(15, 35);
            const cv::Point2d d2 = rotate(
                inward, d.cross(inward) > 0 ? rng.uniform(30.0, 60.0) : -rng.uniform(30.0, 60.0));
            PathMaker p(e - d * px(150));
            p.moveTo(e, v);
            const int meet1 = p.frames() - 1;
            p.moveTo(e + d * px(30), v);
            const double v2 = speed();
            PathMaker q(e + side - d2 * px(150));
            q.moveTo(e + side, v2);
            const int meet2 = q.frames() - 1;
            q.moveTo(e + side + d2 * px(30), v2);
            add("two insects going in close together", { p.path, q.path }, { meet1, meet2 });
        } else { // passes by outside
            const cv::Point2d along = unit(edge.second - edge.first);
            const cv::Point2d start = e - inward * length(25, 50) - along * px(150);
            PathMaker p(start);
            p.moveTo(start + along * px(300), v);
            add("passes by outside", p.path);
        }
    }
}

// Insects that cross a line in a crowd: 10 to 20 within two seconds, from
// either side and at any angle, a few coming back.
void SceneMaker::swarmAtLine(const cv::Point2d &a, const cv::Point2d &b)
{
    const cv::Point2d along = unit(b - a);
    const cv::Point2d normal(-along.y, along.x);
    std::vector<Path> paths;
    const int count = rng.uniform(10, 21);
    for (int i = 0; i < count; ++i) {
        const cv::Point2d c = a + (b - a) * rng.uniform(0.1, 0.9);
        const cv::Point2d d
            = rotate(normal * (rng.uniform(0, 2) ? 1.0 : -1.0), rng.uniform(-60.0, 60.0));
        const double v = speed();
        PathMaker p(c - d * length(50, 150));
        p.hold(seconds(0.0, 2.0));
        p.moveTo(c + d * length(40, 120), v);
        if (rng.uniform(0.0, 1.0) < 0.2)
            p.moveTo(c - rotate(d, rng.uniform(-30.0, 30.0)) * length(50, 150), v);
        paths.push_back(p.path);
    }
    add("in a swarm across the line", paths, std::vector<int>(paths.size(), 0));
}

// 10 to 20 insects going into, out of and through the box within two
// seconds, over all its edges.
void SceneMaker::swarmAtBox(const std::vector<cv::Point> &box)
{
    std::vector<Path> paths;
    const int count = rng.uniform(10, 21);
    for (int i = 0; i < count; ++i) {
        const auto [e, inward] = onEdge(rng, box);
        const cv::Point2d d = rotate(inward, rng.uniform(-50.0, 50.0));
        const double v = speed();
        const double kind = rng.uniform(0.0, 1.0);
        PathMaker p(kind < 0.6 ? e - d * length(50, 150) : e + d * length(20, 40));
        p.hold(seconds(0.0, 2.0));
        if (kind < 0.35) {
            p.moveTo(e + d * length(20, 40), v);
        } else if (kind < 0.6) {
            const auto [exit, outward] = onEdge(rng, box);
            p.moveTo(exit - outward * length(50, 150), v);
        } else {
            p.moveTo(e - d * length(50, 150), v);
        }
        paths.push_back(p.path);
    }
    add("in a swarm at the box", paths, std::vector<int>(paths.size(), 0));
}

// Insects in parallel lanes a few body widths apart (tubes, walkways),
// each going to and fro over the line several times.
void SceneMaker::lanesOverLine(const cv::Point2d &a, const cv::Point2d &b)
{
    const cv::Point2d along = unit(b - a);
    const cv::Point2d normal(-along.y, along.x);
    const double radius = length(3.0, 7.0);
    const double gap = 2 * radius * rng.uniform(2.5, 4.0);
    const cv::Point2d d = rotate(normal, rng.uniform(-20.0, 20.0));
    const cv::Point2d middle = (a + b) * 0.5 + along * length(-60, 60);
    const int lanes = rng.uniform(3, 6);
    std::vector<Path> paths;
    for (int k = 0; k < lanes; ++k) {
        const cv::Point2d c = middle + along * ((k - (lanes - 1) / 2.0) * gap);
        const double v = rng.uniform(0.0, 1.0) < 0.5 ? walk() + px(1.0) : speed();
        double side = rng.uniform(0, 2) ? 1.0 : -1.0;
        PathMaker p(c - d * (side * length(25, 60)));
        p.hold(seconds(0.0, 1.0));
        const int crossings = rng.uniform(3, 7);
        for (int n = 0; n < crossings; ++n) {
            p.moveTo(c + d * (side * length(25, 60)), v);
            p.hold(seconds(0.0, 0.5));
            side = -side;
        }
        paths.push_back(p.path);
    }
    add("to and fro in a lane", paths, std::vector<int>(paths.size(), 0), radius);
}

// Walkers at 0.3 to 3 px per frame: seconds to cross, stops on the line,
// turns just short of it, walks along it.
void SceneMaker::walkersAtLine(const cv::Point2d &a, const cv::Point2d &b)
{
    const cv::Point2d along = unit(b - a);
    const cv::Point2d normal(-along.y, along.x);
    const int count = rng.uniform(5, 9);
    for (int i = 0; i < count; ++i) {
        const cv::Point2d c = a + (b - a) * rng.uniform(0.15, 0.85);
        const cv::Point2d d
            = rotate(normal * (rng.uniform(0, 2) ? 1.0 : -1.0), rng.uniform(-50.0, 50.0));
        const double v = walk();
        PathMaker p(c - d * length(15, 40));
        const double kind = rng.uniform(0.0, 1.0);
        if (kind < 0.35) {
            p.moveTo(c + d * length(15, 40), v);
            add("walks across the line", p.path);
        } else if (kind < 0.65) {
            p.moveTo(c, v);
            p.hold(seconds(1.0, 3.0));
            const bool on = rng.uniform(0.0, 1.0) < 0.6;
            p.moveTo(c + (on ? d : -d) * length(15, 40), walk());
            add("walks onto the line, stops, goes on or back", p.path);
        } else if (kind < 0.8) {
            p.moveTo(c - d * px(rng.uniform(0.0, 2.0)), v);
            p.hold(seconds(0.5, 2.0));
            p.moveTo(c - rotate(d, rng.uniform(-40.0, 40.0)) * length(15, 40), walk());
            add("walks up to the line and back", p.path);
        } else {
            p.moveTo(c, v);
            const double run = length(30, 80) * (rng.uniform(0, 2) ? 1 : -1);
            p.moveTo(c + along * run + normal * px(rng.uniform(-1.5, 1.5)), v);
            p.moveTo(p.here() + (rng.uniform(0, 2) ? d : -d) * length(15, 40), walk());
            add("walks along the line, then off to either side", p.path);
        }
    }
}

// Walkers at a box: slow entries and exits, stops on the border, and
// insects that poke a leg or half the body over the border while the
// centre stays out (no event).
void SceneMaker::walkersAtBox(const std::vector<cv::Point> &box)
{
    const int count = rng.uniform(5, 9);
    for (int i = 0; i < count; ++i) {
        const auto [e, inward] = onEdge(rng, box);
        const cv::Point2d d = rotate(inward, rng.uniform(-50.0, 50.0));
        const double v = walk();
        const double kind = rng.uniform(0.0, 1.0);
        if (kind < 0.25) {
            PathMaker p(e - d * length(15, 40));
            p.moveTo(e + d * length(15, 30), v);
            add("walks in", p.path);
        } else if (kind < 0.45) {
            PathMaker p(e + d * length(15, 30));
            p.moveTo(e - d * length(15, 40), v);
            add("walks out", p.path);
        } else if (kind < 0.6) {
            PathMaker p(e - d * length(15, 40));
            p.moveTo(e, v);
            p.hold(seconds(1.0, 3.0));
            p.moveTo(rng.uniform(0, 2) ? e + d * length(15, 30) : e - d * length(15, 40), walk());
            add("stops on the border, then in or away", p.path);
        } else if (kind < 0.85) {
            const double radius = this->radius();
            const cv::Point2d stop = e - inward * std::max(px(1.0), radius * rng.uniform(0.3, 0.8));
            PathMaker p(stop - d * length(15, 40));
            p.moveTo(stop, rng.uniform(0, 2) ? v : speed());
            p.hold(seconds(0.5, 2.0));
            p.moveTo(stop - rotate(d, rng.uniform(-40.0, 40.0)) * length(15, 40), walk());
            add("pokes over the border, centre outside, and goes back", p.path, radius);
        } else {
            const double radius = this->radius();
            const cv::Point2d side = unit(cv::Point2d(inward.y, -inward.x));
            const cv::Point2d start = e - inward * std::max(px(1.0), radius * rng.uniform(0.4, 0.8))
                - side * length(20, 40);
            PathMaker p(start - inward * length(15, 30));
            p.moveTo(start, v);
            p.moveTo(start + side * length(40, 80), v);
            p.moveTo(p.here() - inward * length(15, 30), v);
            add("walks along the border outside, half over it", p.path, radius);
        }
    }
}
