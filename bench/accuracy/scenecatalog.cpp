#include "scenecatalog.h"

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
    SceneMaker(GroundTruthScene &scene, cv::RNG &rng)
        : scene(scene)
        , rng(rng)
        , rate(scene.fps())
    {
    }

    double speed()
    {
        // Px per frame: a third of the insects walk, the others fly.
        const double fastest = rate > 50 ? 10.0 : 24.0;
        return rng.uniform(0.0, 1.0) < 0.3 ? rng.uniform(3.0, 5.0) : rng.uniform(5.0, fastest);
    }
    int seconds(double from, double to) { return static_cast<int>(rate * rng.uniform(from, to)); }
    double length(double from, double to) { return rng.uniform(from, to); }

    // Adds the insects of `paths`, `at[i]` being the path index that must
    // fall on the same frame for all of them.
    void add(const char *behaviour, const std::vector<Path> &paths, const std::vector<int> &at)
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
            insect.radius
                = rng.uniform(0.0, 1.0) < 0.15 ? rng.uniform(10.0, 13.0) : rng.uniform(3.0, 9.0);
            insect.level = rng.uniform(15, 55);
            insect.behaviour = QString::fromLatin1(behaviour);
            scene.addInsect(insect);
        }
    }
    void add(const char *behaviour, const Path &path) { add(behaviour, { path }, { 0 }); }

    GroundTruthScene &scene;
    cv::RNG &rng;
    double rate;
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
            PathMaker p(c - d * 150);
            p.moveTo(c, v);
            const int meet1 = p.frames() - 1;
            p.moveTo(c + d * 150, v);
            const double v2 = m.speed();
            PathMaker q(c + offset + d * 150);
            q.moveTo(c + offset, v2);
            const int meet2 = q.frames() - 1;
            q.moveTo(c + offset - d * 150, v2);
            m.add("two insects passing close, one from each side", { p.path, q.path },
                { meet1, meet2 });
        } else if (kind < 0.55) { // paths crossing on the line
            const cv::Point2d d2 = rotate(normal * sign, rng.uniform(0, 2) ? 45.0 : -45.0);
            const cv::Point2d d1 = rotate(d2, d2.cross(normal * sign) > 0 ? 90.0 : -90.0);
            PathMaker p(c - d1 * 150);
            p.moveTo(c, v);
            const int meet1 = p.frames() - 1;
            p.moveTo(c + d1 * 150, v);
            PathMaker q(c - d2 * 150);
            const double v2 = m.speed();
            q.moveTo(c, v2);
            const int meet2 = q.frames() - 1;
            q.moveTo(c + d2 * 150, v2);
            m.add("paths crossing on the line", { p.path, q.path }, { meet1, meet2 });
        } else if (kind < 0.67) { // sits on the line, then goes on or back
            PathMaker p(c - d * m.length(80, 200));
            p.moveTo(c + along * rng.uniform(-1.0, 1.0), v);
            p.hold(m.seconds(0.4, 1.5));
            const bool across = rng.uniform(0.0, 1.0) < 0.7;
            p.moveTo(c + (across ? d : -d) * m.length(80, 200), m.speed());
            m.add("sits on the line, then goes on or back", p.path);
        } else if (kind < 0.75) { // hovers on the line, then leaves to either side
            PathMaker p(c - d * m.length(80, 200));
            p.moveTo(c + normal * rng.uniform(-0.5, 0.5), v);
            p.hover(m.seconds(0.8, 1.5), 2.0, rng);
            p.moveTo(c + (rng.uniform(0, 2) ? d : -d) * m.length(80, 200), m.speed());
            m.add("hovers on the line, then leaves to either side", p.path);
        } else if (kind < 0.83) { // flies along the line, then leaves to either side
            PathMaker p(c - d * m.length(80, 200));
            p.moveTo(c, v);
            const double run = m.length(60, 140) * (rng.uniform(0, 2) ? 1 : -1);
            p.moveTo(c + along * run + normal * rng.uniform(-1.0, 1.0), std::max(3.0, v * 0.6));
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
            p.moveTo(start + along * (rng.uniform(0, 2) ? 700 : -700), v);
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
            p.moveTo(e - inward * 10, v);
            p.hover(m.seconds(0.8, 1.5), 2.0, rng);
            const bool in = rng.uniform(0, 2) != 0;
            p.moveTo(
                in ? e + d * m.length(20, 40) : e - rotate(d, -30) * m.length(80, 200), m.speed());
            m.add("hovers at the border, then goes in or away", p.path);
        } else if (kind < 0.90) { // two insects going in close together, from different directions
            const cv::Point2d side = unit(edge.second - edge.first) * m.length(15, 35);
            const cv::Point2d d2 = rotate(
                inward, d.cross(inward) > 0 ? rng.uniform(30.0, 60.0) : -rng.uniform(30.0, 60.0));
            PathMaker p(e - d * 150);
            p.moveTo(e, v);
            const int meet1 = p.frames() - 1;
            p.moveTo(e + d * 30, v);
            const double v2 = m.speed();
            PathMaker q(e + side - d2 * 150);
            q.moveTo(e + side, v2);
            const int meet2 = q.frames() - 1;
            q.moveTo(e + side + d2 * 30, v2);
            m.add("two insects going in close together", { p.path, q.path }, { meet1, meet2 });
        } else { // passes by outside
            const cv::Point2d along = unit(edge.second - edge.first);
            const cv::Point2d start = e - inward * m.length(25, 50) - along * 150;
            PathMaker p(start);
            p.moveTo(start + along * 300, v);
            m.add("passes by outside", p.path);
        }
    }
}

} // namespace

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
    const int w = size.width;
    const int h = size.height;
    std::vector<cv::Point> tracking { { kRim, kRim }, { w - kRim, kRim }, { w - kRim, h - kRim },
        { kRim, h - kRim } };
    SceneMaker maker(scene, rng);
    if (line) {
        // Across the frame, at any angle.
        const cv::Point2d centre(w * rng.uniform(0.35, 0.65), h * rng.uniform(0.35, 0.65));
        const cv::Point2d along = rotate(cv::Point2d(1, 0), rng.uniform(0.0, 180.0));
        const double half = rng.uniform(0.3, 0.45) * w;
        cv::Point a(centre - along * half);
        cv::Point b(centre + along * half);
        const auto inside = [&](cv::Point p) {
            return cv::Point(
                std::clamp(p.x, kRim + 5, w - kRim - 5), std::clamp(p.y, kRim + 5, h - kRim - 5));
        };
        a = inside(a);
        b = inside(b);
        scene.setCountingBox({ a, b });
        lineInsects(maker, a, b, rng.uniform(6, 10));
    } else {
        const int bw = static_cast<int>(w * rng.uniform(0.25, 0.4));
        const int bh = static_cast<int>(h * rng.uniform(0.3, 0.45));
        const cv::Point c(w / 2 + rng.uniform(-60, 60), h / 2 + rng.uniform(-40, 40));
        std::vector<cv::Point> box { { c.x - bw / 2, c.y - bh / 2 }, { c.x + bw / 2, c.y - bh / 2 },
            { c.x + bw / 2, c.y + bh / 2 }, { c.x - bw / 2, c.y + bh / 2 } };
        for (cv::Point &p : box)
            p += cv::Point(rng.uniform(-15, 16), rng.uniform(-15, 16));
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
