#include "scenes/scenecatalog.h"

#include <algorithm>
#include <cmath>

const cv::Size SceneCatalog::kFrameSize(640, 480);

namespace {

using Path = std::vector<cv::Point2d>;
constexpr int kRim = 10; // the tracking box leaves this much of the frame out
constexpr int kFirstEvents = 100; // frame index from which insects move

cv::Point2d unit(const cv::Point2d &v)
{
    const double n = std::hypot(v.x, v.y);
    return n > 0 ? v / n : cv::Point2d(1, 0);
}

cv::Point2d rotate(const cv::Point2d &v, double degrees)
{
    const double r = degrees * CV_PI / 180.0;
    return { v.x * std::cos(r) - v.y * std::sin(r), v.x * std::sin(r) + v.y * std::cos(r) };
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

class SceneMaker
{
public:
    SceneMaker(GroundTruthScene &scene, cv::RNG &rng, double scale = 1.0)
        : scene(scene)
        , rng(rng)
        , rate(scene.fps())
        , scale(scale)
    {
    }

    double speed()
    {
        // Px per frame: a third of the insects walk, the others fly.
        const double fastest = rate > 50 ? 10.0 : 24.0;
        return scale
            * (rng.uniform(0.0, 1.0) < 0.3 ? rng.uniform(3.0, 5.0) : rng.uniform(5.0, fastest));
    }
    // A walker's pace: a few seconds to cross a line.
    double walk() { return scale * rng.uniform(0.3, 3.0); }
    int seconds(double from, double to) { return static_cast<int>(rate * rng.uniform(from, to)); }
    double length(double from, double to) { return scale * rng.uniform(from, to); }
    // Px at 640 px wide, in this frame.
    double px(double at640) const { return scale * at640; }
    double radius()
    {
        const double r
            = rng.uniform(0.0, 1.0) < 0.15 ? rng.uniform(10.0, 13.0) : rng.uniform(3.0, 9.0);
        return std::max(2.0, scale * r);
    }

    // Adds the insects of `paths`, `at[i]` being the path index that must
    // fall on the same frame for all of them; `size`, when given, is the
    // radius of all.
    void add(const char *behaviour, const std::vector<Path> &paths, const std::vector<int> &at,
        double size = 0)
    {
        int longest = 0;
        int latest = 0;
        for (size_t i = 0; i < paths.size(); ++i) {
            latest = std::max(latest, at[i]);
            longest = std::max(longest, static_cast<int>(paths[i].size()) - at[i]);
        }
        const int room = scene.frames() - 15 - longest - latest - kFirstEvents;
        const int meet = kFirstEvents + latest + (room > 0 ? rng.uniform(0, room) : 0);
        for (size_t i = 0; i < paths.size(); ++i) {
            GroundTruthScene::Insect insect;
            insect.path = paths[i];
            insect.start = meet - at[i];
            insect.radius = radius();
            if (size > 0)
                insect.radius = size;
            insect.level = rng.uniform(15, 55);
            insect.behaviour = QString::fromLatin1(behaviour);
            // Shapes draw on the generator only where they are asked for,
            // so that the classic scenes stay what they were.
            if (shapes > 0 && rng.uniform(0.0, 1.0) < shapes) {
                insect.appendages = true;
                insect.elongation = rng.uniform(1.0, 2.5);
            }
            scene.addInsect(insect);
        }
    }
    void add(const char *behaviour, const Path &path, double size = 0)
    {
        add(behaviour, std::vector<Path> { path }, { 0 }, size);
    }

    GroundTruthScene &scene;
    cv::RNG &rng;
    double rate;
    double scale;
    double shapes = 0; // share of insects with wings and legs
};

void lineInsects(SceneMaker &m, const cv::Point2d &a, const cv::Point2d &b, int count)
{
    const cv::Point2d along = unit(b - a);
    const cv::Point2d normal(-along.y, along.x);
    cv::RNG &rng = m.rng;
    for (int i = 0; i < count; ++i) {
        const cv::Point2d c = a + (b - a) * rng.uniform(0.15, 0.85);
        const double sign = rng.uniform(0, 2) ? 1.0 : -1.0;
        const cv::Point2d d = rotate(normal * sign, rng.uniform(-50.0, 50.0));
        const double v = m.speed();
        const double kind = rng.uniform(0.0, 1.0);
        if (kind < 0.30) { // straight across
            PathMaker p(c - d * m.length(80, 200));
            p.moveTo(c, v);
            p.moveTo(c + d * m.length(80, 200), v);
            m.add("straight across", p.path);
        } else if (kind < 0.45) { // two insects passing close, one from each side
            const cv::Point2d offset = along * m.length(15, 40);
            PathMaker p(c - d * m.px(150));
            p.moveTo(c, v);
            const int meet1 = p.frames() - 1;
            p.moveTo(c + d * m.px(150), v);
            const double v2 = m.speed();
            PathMaker q(c + offset + d * m.px(150));
            q.moveTo(c + offset, v2);
            const int meet2 = q.frames() - 1;
            q.moveTo(c + offset - d * m.px(150), v2);
            m.add("two insects passing close, one from each side", { p.path, q.path },
                { meet1, meet2 });
        } else if (kind < 0.55) { // paths crossing on the line
            const cv::Point2d d2 = rotate(normal * sign, rng.uniform(0, 2) ? 45.0 : -45.0);
            const cv::Point2d d1 = rotate(d2, d2.cross(normal * sign) > 0 ? 90.0 : -90.0);
            PathMaker p(c - d1 * m.px(150));
            p.moveTo(c, v);
            const int meet1 = p.frames() - 1;
            p.moveTo(c + d1 * m.px(150), v);
            PathMaker q(c - d2 * m.px(150));
            const double v2 = m.speed();
            q.moveTo(c, v2);
            const int meet2 = q.frames() - 1;
            q.moveTo(c + d2 * m.px(150), v2);
            m.add("paths crossing on the line", { p.path, q.path }, { meet1, meet2 });
        } else if (kind < 0.67) { // sits on the line, then goes on or back
            PathMaker p(c - d * m.length(80, 200));
            p.moveTo(c + along * m.px(rng.uniform(-1.0, 1.0)), v);
            p.hold(m.seconds(0.4, 1.5));
            const bool across = rng.uniform(0.0, 1.0) < 0.7;
            p.moveTo(c + (across ? d : -d) * m.length(80, 200), m.speed());
            m.add("sits on the line, then goes on or back", p.path);
        } else if (kind < 0.75) { // hovers on the line, then leaves to either side
            PathMaker p(c - d * m.length(80, 200));
            p.moveTo(c + normal * m.px(rng.uniform(-0.5, 0.5)), v);
            p.hover(m.seconds(0.8, 1.5), m.px(2.0), rng);
            p.moveTo(c + (rng.uniform(0, 2) ? d : -d) * m.length(80, 200), m.speed());
            m.add("hovers on the line, then leaves to either side", p.path);
        } else if (kind < 0.83) { // flies along the line, then leaves to either side
            PathMaker p(c - d * m.length(80, 200));
            p.moveTo(c, v);
            const double run = m.length(60, 140) * (rng.uniform(0, 2) ? 1 : -1);
            p.moveTo(c + along * run + normal * m.px(rng.uniform(-1.0, 1.0)),
                std::max(m.px(3.0), v * 0.6));
            p.moveTo(p.here() + (rng.uniform(0, 2) ? d : -d) * m.length(80, 200), v);
            m.add("flies along the line, then leaves to either side", p.path);
        } else if (kind < 0.91) { // comes close and turns back
            PathMaker p(c - d * m.length(80, 200));
            p.moveTo(c - d * m.length(12, 25), v);
            p.moveTo(c - rotate(d, rng.uniform(-40.0, 40.0)) * m.length(80, 200), v);
            m.add("comes close and turns back", p.path);
        } else { // leaves the tracking box without crossing
            const cv::Point2d start = c - normal * sign * m.length(40, 120);
            PathMaker p(start);
            p.moveTo(start + along * m.px(rng.uniform(0, 2) ? 700 : -700), v);
            m.add("leaves the tracking box without crossing", p.path);
        }
    }
}

// The box's edges as (corner, next corner), closing it.
std::vector<std::pair<cv::Point2d, cv::Point2d>> edgesOf(const std::vector<cv::Point> &box)
{
    std::vector<std::pair<cv::Point2d, cv::Point2d>> edges;
    for (size_t k = 0; k < box.size(); ++k)
        edges.emplace_back(cv::Point2d(box[k]), cv::Point2d(box[(k + 1) % box.size()]));
    return edges;
}

void boxInsects(SceneMaker &m, const std::vector<cv::Point> &box, int count)
{
    const auto edges = edgesOf(box);
    cv::Point2d centre;
    for (const cv::Point &p : box)
        centre += cv::Point2d(p) / static_cast<double>(box.size());
    cv::RNG &rng = m.rng;
    for (int i = 0; i < count; ++i) {
        const auto &edge
            = edges[static_cast<size_t>(rng.uniform(0, static_cast<int>(edges.size())))];
        const cv::Point2d e = edge.first + (edge.second - edge.first) * rng.uniform(0.15, 0.85);
        cv::Point2d inward(-(edge.second - edge.first).y, (edge.second - edge.first).x);
        inward = unit(inward);
        if (inward.dot(centre - e) < 0)
            inward = -inward;
        const cv::Point2d d = rotate(inward, rng.uniform(-50.0, 50.0));
        const double v = m.speed();
        const double kind = rng.uniform(0.0, 1.0);
        if (kind < 0.28) { // enters
            PathMaker p(e - d * m.length(80, 200));
            p.moveTo(e + d * m.length(20, 40), v);
            m.add("enters", p.path);
        } else if (kind < 0.53) { // comes out
            PathMaker p(e + d * m.length(20, 40));
            p.moveTo(e - d * m.length(80, 200), v);
            m.add("comes out", p.path);
        } else if (kind < 0.63) { // goes in and comes out elsewhere
            PathMaker p(e - d * m.length(80, 160));
            p.moveTo(centre, v);
            p.hold(m.seconds(0.3, 1.0));
            const auto &other
                = edges[static_cast<size_t>(rng.uniform(0, static_cast<int>(edges.size())))];
            const cv::Point2d exit
                = other.first + (other.second - other.first) * rng.uniform(0.2, 0.8);
            p.moveTo(exit + unit(exit - centre) * m.length(80, 160), m.speed());
            m.add("goes in and comes out elsewhere", p.path);
        } else if (kind < 0.73) { // waits at the border, then goes in or away
            PathMaker p(e - d * m.length(80, 200));
            p.moveTo(e - inward * m.length(6, 10), v);
            p.hold(m.seconds(0.4, 1.5));
            const bool in = rng.uniform(0.0, 1.0) < 0.7;
            p.moveTo(
                in ? e + d * m.length(20, 40) : e - rotate(d, 30) * m.length(80, 200), m.speed());
            m.add("waits at the border, then goes in or away", p.path);
        } else if (kind < 0.80) { // hovers at the border, then goes in or away
            PathMaker p(e - d * m.length(80, 200));
            p.moveTo(e - inward * m.px(10), v);
            p.hover(m.seconds(0.8, 1.5), m.px(2.0), rng);
            const bool in = rng.uniform(0, 2) != 0;
            p.moveTo(
                in ? e + d * m.length(20, 40) : e - rotate(d, -30) * m.length(80, 200), m.speed());
            m.add("hovers at the border, then goes in or away", p.path);
        } else if (kind < 0.90) { // two insects going in close together, from different directions
            const cv::Point2d side = unit(edge.second - edge.first) * m.length(15, 35);
            const cv::Point2d d2 = rotate(
                inward, d.cross(inward) > 0 ? rng.uniform(30.0, 60.0) : -rng.uniform(30.0, 60.0));
            PathMaker p(e - d * m.px(150));
            p.moveTo(e, v);
            const int meet1 = p.frames() - 1;
            p.moveTo(e + d * m.px(30), v);
            const double v2 = m.speed();
            PathMaker q(e + side - d2 * m.px(150));
            q.moveTo(e + side, v2);
            const int meet2 = q.frames() - 1;
            q.moveTo(e + side + d2 * m.px(30), v2);
            m.add("two insects going in close together", { p.path, q.path }, { meet1, meet2 });
        } else { // passes by outside
            const cv::Point2d along = unit(edge.second - edge.first);
            const cv::Point2d start = e - inward * m.length(25, 50) - along * m.px(150);
            PathMaker p(start);
            p.moveTo(start + along * m.px(300), v);
            m.add("passes by outside", p.path);
        }
    }
}

// Insects that cross a line in a crowd: 10 to 20 within two seconds, from
// either side and at any angle, a few coming back.
void swarmAtLine(SceneMaker &m, const cv::Point2d &a, const cv::Point2d &b)
{
    const cv::Point2d along = unit(b - a);
    const cv::Point2d normal(-along.y, along.x);
    cv::RNG &rng = m.rng;
    std::vector<Path> paths;
    const int count = rng.uniform(10, 21);
    for (int i = 0; i < count; ++i) {
        const cv::Point2d c = a + (b - a) * rng.uniform(0.1, 0.9);
        const cv::Point2d d
            = rotate(normal * (rng.uniform(0, 2) ? 1.0 : -1.0), rng.uniform(-60.0, 60.0));
        const double v = m.speed();
        PathMaker p(c - d * m.length(50, 150));
        p.hold(m.seconds(0.0, 2.0));
        p.moveTo(c + d * m.length(40, 120), v);
        if (rng.uniform(0.0, 1.0) < 0.2)
            p.moveTo(c - rotate(d, rng.uniform(-30.0, 30.0)) * m.length(50, 150), v);
        paths.push_back(p.path);
    }
    m.add("in a swarm across the line", paths, std::vector<int>(paths.size(), 0));
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

// 10 to 20 insects going into, out of and through the box within two
// seconds, over all its edges.
void swarmAtBox(SceneMaker &m, const std::vector<cv::Point> &box)
{
    cv::RNG &rng = m.rng;
    std::vector<Path> paths;
    const int count = rng.uniform(10, 21);
    for (int i = 0; i < count; ++i) {
        const auto [e, inward] = onEdge(rng, box);
        const cv::Point2d d = rotate(inward, rng.uniform(-50.0, 50.0));
        const double v = m.speed();
        const double kind = rng.uniform(0.0, 1.0);
        PathMaker p(kind < 0.6 ? e - d * m.length(50, 150) : e + d * m.length(20, 40));
        p.hold(m.seconds(0.0, 2.0));
        if (kind < 0.35) {
            p.moveTo(e + d * m.length(20, 40), v);
        } else if (kind < 0.6) {
            const auto [exit, outward] = onEdge(rng, box);
            p.moveTo(exit - outward * m.length(50, 150), v);
        } else {
            p.moveTo(e - d * m.length(50, 150), v);
        }
        paths.push_back(p.path);
    }
    m.add("in a swarm at the box", paths, std::vector<int>(paths.size(), 0));
}

// Insects in parallel lanes a few body widths apart (tubes, walkways),
// each going to and fro over the line several times.
void lanesOverLine(SceneMaker &m, const cv::Point2d &a, const cv::Point2d &b)
{
    const cv::Point2d along = unit(b - a);
    const cv::Point2d normal(-along.y, along.x);
    cv::RNG &rng = m.rng;
    const double radius = m.length(3.0, 7.0);
    const double gap = 2 * radius * rng.uniform(2.5, 4.0);
    const cv::Point2d d = rotate(normal, rng.uniform(-20.0, 20.0));
    const cv::Point2d middle = (a + b) * 0.5 + along * m.length(-60, 60);
    const int lanes = rng.uniform(3, 6);
    std::vector<Path> paths;
    for (int k = 0; k < lanes; ++k) {
        const cv::Point2d c = middle + along * ((k - (lanes - 1) / 2.0) * gap);
        const double v = rng.uniform(0.0, 1.0) < 0.5 ? m.walk() + m.px(1.0) : m.speed();
        double side = rng.uniform(0, 2) ? 1.0 : -1.0;
        PathMaker p(c - d * (side * m.length(25, 60)));
        p.hold(m.seconds(0.0, 1.0));
        const int crossings = rng.uniform(3, 7);
        for (int n = 0; n < crossings; ++n) {
            p.moveTo(c + d * (side * m.length(25, 60)), v);
            p.hold(m.seconds(0.0, 0.5));
            side = -side;
        }
        paths.push_back(p.path);
    }
    m.add("to and fro in a lane", paths, std::vector<int>(paths.size(), 0), radius);
}

// Walkers at 0.3 to 3 px per frame: seconds to cross, stops on the line,
// turns just short of it, walks along it.
void walkersAtLine(SceneMaker &m, const cv::Point2d &a, const cv::Point2d &b)
{
    const cv::Point2d along = unit(b - a);
    const cv::Point2d normal(-along.y, along.x);
    cv::RNG &rng = m.rng;
    const int count = rng.uniform(5, 9);
    for (int i = 0; i < count; ++i) {
        const cv::Point2d c = a + (b - a) * rng.uniform(0.15, 0.85);
        const cv::Point2d d
            = rotate(normal * (rng.uniform(0, 2) ? 1.0 : -1.0), rng.uniform(-50.0, 50.0));
        const double v = m.walk();
        PathMaker p(c - d * m.length(15, 40));
        const double kind = rng.uniform(0.0, 1.0);
        if (kind < 0.35) {
            p.moveTo(c + d * m.length(15, 40), v);
            m.add("walks across the line", p.path);
        } else if (kind < 0.65) {
            p.moveTo(c, v);
            p.hold(m.seconds(1.0, 3.0));
            const bool on = rng.uniform(0.0, 1.0) < 0.6;
            p.moveTo(c + (on ? d : -d) * m.length(15, 40), m.walk());
            m.add("walks onto the line, stops, goes on or back", p.path);
        } else if (kind < 0.8) {
            p.moveTo(c - d * m.px(rng.uniform(0.0, 2.0)), v);
            p.hold(m.seconds(0.5, 2.0));
            p.moveTo(c - rotate(d, rng.uniform(-40.0, 40.0)) * m.length(15, 40), m.walk());
            m.add("walks up to the line and back", p.path);
        } else {
            p.moveTo(c, v);
            const double run = m.length(30, 80) * (rng.uniform(0, 2) ? 1 : -1);
            p.moveTo(c + along * run + normal * m.px(rng.uniform(-1.5, 1.5)), v);
            p.moveTo(p.here() + (rng.uniform(0, 2) ? d : -d) * m.length(15, 40), m.walk());
            m.add("walks along the line, then off to either side", p.path);
        }
    }
}

// Walkers at a box: slow entries and exits, stops on the border, and
// insects that poke a leg or half the body over the border while the
// centre stays out (no event).
void walkersAtBox(SceneMaker &m, const std::vector<cv::Point> &box)
{
    cv::RNG &rng = m.rng;
    const int count = rng.uniform(5, 9);
    for (int i = 0; i < count; ++i) {
        const auto [e, inward] = onEdge(rng, box);
        const cv::Point2d d = rotate(inward, rng.uniform(-50.0, 50.0));
        const double v = m.walk();
        const double kind = rng.uniform(0.0, 1.0);
        if (kind < 0.25) {
            PathMaker p(e - d * m.length(15, 40));
            p.moveTo(e + d * m.length(15, 30), v);
            m.add("walks in", p.path);
        } else if (kind < 0.45) {
            PathMaker p(e + d * m.length(15, 30));
            p.moveTo(e - d * m.length(15, 40), v);
            m.add("walks out", p.path);
        } else if (kind < 0.6) {
            PathMaker p(e - d * m.length(15, 40));
            p.moveTo(e, v);
            p.hold(m.seconds(1.0, 3.0));
            p.moveTo(
                rng.uniform(0, 2) ? e + d * m.length(15, 30) : e - d * m.length(15, 40), m.walk());
            m.add("stops on the border, then in or away", p.path);
        } else if (kind < 0.85) {
            const double radius = m.radius();
            const cv::Point2d stop
                = e - inward * std::max(m.px(1.0), radius * rng.uniform(0.3, 0.8));
            PathMaker p(stop - d * m.length(15, 40));
            p.moveTo(stop, rng.uniform(0, 2) ? v : m.speed());
            p.hold(m.seconds(0.5, 2.0));
            p.moveTo(stop - rotate(d, rng.uniform(-40.0, 40.0)) * m.length(15, 40), m.walk());
            m.add("pokes over the border, centre outside, and goes back", p.path, radius);
        } else {
            const double radius = m.radius();
            const cv::Point2d side = unit(cv::Point2d(inward.y, -inward.x));
            const cv::Point2d start = e
                - inward * std::max(m.px(1.0), radius * rng.uniform(0.4, 0.8))
                - side * m.length(20, 40);
            PathMaker p(start - inward * m.length(15, 30));
            p.moveTo(start, v);
            p.moveTo(start + side * m.length(40, 80), v);
            p.moveTo(p.here() - inward * m.length(15, 30), v);
            m.add("walks along the border outside, half over it", p.path, radius);
        }
    }
}

// A counting line across the frame, at any angle, kept within the
// tracking box.
std::pair<cv::Point, cv::Point> placeLine(cv::RNG &rng, cv::Size size)
{
    const int w = size.width;
    const int h = size.height;
    const cv::Point2d centre(w * rng.uniform(0.35, 0.65), h * rng.uniform(0.35, 0.65));
    const cv::Point2d along = rotate(cv::Point2d(1, 0), rng.uniform(0.0, 180.0));
    const double half = rng.uniform(0.3, 0.45) * w;
    const auto inside = [&](const cv::Point2d &p) {
        const cv::Point q(p);
        return cv::Point(
            std::clamp(q.x, kRim + 5, w - kRim - 5), std::clamp(q.y, kRim + 5, h - kRim - 5));
    };
    return { inside(centre - along * half), inside(centre + along * half) };
}

// A counting box about the middle of the frame, its corners a little off
// square; `centre` and `width` its middle and width before that.
std::vector<cv::Point> placeBox(
    cv::RNG &rng, cv::Size size, double scale, cv::Point &centre, int &width)
{
    const int w = size.width;
    const int h = size.height;
    width = static_cast<int>(w * rng.uniform(0.25, 0.4));
    const int bh = static_cast<int>(h * rng.uniform(0.3, 0.45));
    centre = cv::Point(w / 2 + cvRound(scale * rng.uniform(-60, 60)),
        h / 2 + cvRound(scale * rng.uniform(-40, 40)));
    std::vector<cv::Point> box { { centre.x - width / 2, centre.y - bh / 2 },
        { centre.x + width / 2, centre.y - bh / 2 }, { centre.x + width / 2, centre.y + bh / 2 },
        { centre.x - width / 2, centre.y + bh / 2 } };
    for (cv::Point &p : box)
        p += cv::Point(
            cvRound(scale * rng.uniform(-15, 16)), cvRound(scale * rng.uniform(-15, 16)));
    return box;
}

std::vector<cv::Point> wholeFrame(cv::Size size)
{
    return { { kRim, kRim }, { size.width - kRim, kRim }, { size.width - kRim, size.height - kRim },
        { kRim, size.height - kRim } };
}

enum class Theme {
    MixedLine,
    MixedBox,
    SwarmLine,
    SwarmBox,
    Lanes,
    WalkersLine,
    WalkersBox,
    ShapesBox
};

struct BroadScene
{
    Theme theme;
    cv::Size size;
    double fps;
    const char *fourcc;
    bool drift;
};

// Every frame size, rate and compression meets several kinds of scene.
const BroadScene kBroad[] = {
    { Theme::MixedLine, { 320, 240 }, 20, "MJPG", false },
    { Theme::MixedBox, { 1280, 720 }, 25, "avc1", true },
    { Theme::SwarmLine, { 640, 480 }, 60, "mp4v", true },
    { Theme::SwarmBox, { 1920, 1080 }, 20, "avc1", false },
    { Theme::Lanes, { 640, 480 }, 25, "avc1", false },
    { Theme::WalkersLine, { 960, 540 }, 20, "MJPG", true },
    { Theme::WalkersBox, { 320, 240 }, 25, "mp4v", false },
    { Theme::ShapesBox, { 640, 480 }, 90, "avc1", true },
    { Theme::MixedLine, { 1920, 1080 }, 25, "avc1", true },
    { Theme::MixedBox, { 320, 240 }, 90, "MJPG", false },
    { Theme::SwarmLine, { 960, 540 }, 25, "MJPG", false },
    { Theme::SwarmBox, { 640, 480 }, 20, "mp4v", true },
    { Theme::Lanes, { 960, 540 }, 60, "mp4v", true },
    { Theme::WalkersLine, { 640, 480 }, 25, "avc1", false },
    { Theme::WalkersBox, { 800, 600 }, 20, "avc1", true },
    { Theme::ShapesBox, { 1024, 768 }, 25, "MJPG", false },
};

const char *const kThemeNames[] = { "mixed_line", "mixed_box", "swarm_line", "swarm_box",
    "lanes_line", "walkers_line", "walkers_box", "shapes_box" };

bool atLine(Theme theme)
{
    return theme == Theme::MixedLine || theme == Theme::SwarmLine || theme == Theme::Lanes
        || theme == Theme::WalkersLine;
}

} // namespace

int SceneCatalog::count(Set set)
{
    return set == Set::Classic ? kDefaultCount : static_cast<int>(std::size(kBroad));
}

const char *SceneCatalog::fourcc(Set set, int index)
{
    return set == Set::Classic ? "MJPG"
                               : kBroad[static_cast<size_t>(index) % std::size(kBroad)].fourcc;
}

GroundTruthScene SceneCatalog::scene(Set set, int index, unsigned seedBase)
{
    return set == Set::Classic ? scene(index, seedBase) : broadScene(index, seedBase);
}

GroundTruthScene SceneCatalog::broadScene(int index, unsigned seedBase)
{
    const BroadScene &kind = kBroad[static_cast<size_t>(index) % std::size(kBroad)];
    const unsigned seed = 6007u * static_cast<unsigned>(index + 1) + 104729u * seedBase + 1u;
    cv::RNG rng(seed);
    const bool walkers = kind.theme == Theme::WalkersLine || kind.theme == Theme::WalkersBox;
    // Short, to keep the report to minutes: a walker takes seconds.
    const double seconds = walkers ? 9.0 : kind.fps > 50 ? 3.5 : 5.0;
    const cv::Size size = kind.size;
    GroundTruthScene scene(QStringLiteral("broad%1_%2_%3x%4_%5fps_%6")
                               .arg(index, 2, 10, QLatin1Char('0'))
                               .arg(QLatin1String(kThemeNames[static_cast<int>(kind.theme)]))
                               .arg(size.width)
                               .arg(size.height)
                               .arg(static_cast<int>(kind.fps))
                               .arg(QLatin1String(kind.fourcc)),
        size, kind.fps, 90 + static_cast<int>(kind.fps * seconds), seed);
    const double scale = size.width / 640.0;
    scene.setFlicker(rng.uniform(0.0, 2.0));
    if (kind.drift) // 2 to 8 px a second at 640 px wide, any way
        scene.setDrift(rotate(
            cv::Point2d(scale * rng.uniform(2.0, 8.0) / kind.fps, 0), rng.uniform(0.0, 360.0)));
    SceneMaker maker(scene, rng, scale);
    maker.shapes = kind.theme == Theme::ShapesBox ? 1.0 : walkers ? 0.6 : 0.3;
    if (atLine(kind.theme)) {
        const auto [a, b] = placeLine(rng, size);
        scene.setCountingBox({ a, b });
        if (kind.theme == Theme::MixedLine)
            lineInsects(maker, a, b, rng.uniform(6, 10));
        else if (kind.theme == Theme::SwarmLine)
            swarmAtLine(maker, a, b);
        else if (kind.theme == Theme::Lanes)
            lanesOverLine(maker, a, b);
        else
            walkersAtLine(maker, a, b);
    } else {
        cv::Point centre;
        int width = 0;
        const std::vector<cv::Point> box = placeBox(rng, size, scale, centre, width);
        scene.setCountingBox(box);
        if (kind.theme == Theme::MixedBox)
            boxInsects(maker, box, rng.uniform(6, 10));
        else if (kind.theme == Theme::SwarmBox)
            swarmAtBox(maker, box);
        else if (kind.theme == Theme::WalkersBox)
            walkersAtBox(maker, box);
        else {
            boxInsects(maker, box, rng.uniform(5, 8));
            walkersAtBox(maker, box);
        }
    }
    scene.setTrackingBox(wholeFrame(size));
    return scene;
}

GroundTruthScene SceneCatalog::scene(int index, unsigned seedBase)
{
    const unsigned seed = 7919u * static_cast<unsigned>(index + 1) + 104729u * seedBase;
    cv::RNG rng(seed);
    const bool line = index % 2 == 0;
    const double fps = (index / 2) % 2 == 0 ? 25.0 : 90.0;
    const int frames = fps > 50 ? 90 + 540 : 90 + 330;
    const cv::Size size = kFrameSize;
    GroundTruthScene scene(QStringLiteral("scene%1_%2_%3fps")
                               .arg(index, 2, 10, QLatin1Char('0'))
                               .arg(line ? QStringLiteral("line") : QStringLiteral("box"))
                               .arg(static_cast<int>(fps)),
        size, fps, frames, seed);
    scene.setFlicker(rng.uniform(0.0, 2.0));
    const int h = size.height;
    std::vector<cv::Point> tracking = wholeFrame(size);
    SceneMaker maker(scene, rng);
    if (line) {
        const auto [a, b] = placeLine(rng, size);
        scene.setCountingBox({ a, b });
        lineInsects(maker, a, b, rng.uniform(6, 10));
    } else {
        cv::Point c;
        int bw = 0;
        const std::vector<cv::Point> box = placeBox(rng, size, 1.0, c, bw);
        scene.setCountingBox(box);
        // Every fourth box scene has a tracking box that leaves part of the
        // counting box out: only the border inside it counts.
        if (index % 8 == 3)
            tracking = { { kRim, kRim }, { c.x + bw / 4, kRim }, { c.x + bw / 4, h - kRim },
                { kRim, h - kRim } };
        boxInsects(maker, box, rng.uniform(6, 10));
    }
    scene.setTrackingBox(tracking);
    return scene;
}
