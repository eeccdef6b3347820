#include "scenes/scenecatalog.h"

#include <algorithm>
#include <cmath>

#include "scenes/scenemaker.h"

const cv::Size SceneCatalog::kFrameSize(640, 480);

namespace {

constexpr int kRim = 10; // the tracking box leaves this much of the frame out

// A counting line across the frame, at any angle, kept within the
// tracking box.
std::pair<cv::Point, cv::Point> placeLine(cv::RNG &rng, cv::Size size)
{
    const int w = size.width;
    const int h = size.height;
    const cv::Point2d centre(w * rng.uniform(0.35, 0.65), h * rng.uniform(0.35, 0.65));
    const cv::Point2d along = SceneMaker::rotate(cv::Point2d(1, 0), rng.uniform(0.0, 180.0));
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
        scene.setDrift(SceneMaker::rotate(
            cv::Point2d(scale * rng.uniform(2.0, 8.0) / kind.fps, 0), rng.uniform(0.0, 360.0)));
    SceneMaker maker(scene, rng, scale);
    maker.shapes = kind.theme == Theme::ShapesBox ? 1.0 : walkers ? 0.6 : 0.3;
    if (atLine(kind.theme)) {
        const auto [a, b] = placeLine(rng, size);
        scene.setCountingBox({ a, b });
        if (kind.theme == Theme::MixedLine)
            maker.lineInsects(a, b, rng.uniform(6, 10));
        else if (kind.theme == Theme::SwarmLine)
            maker.swarmAtLine(a, b);
        else if (kind.theme == Theme::Lanes)
            maker.lanesOverLine(a, b);
        else
            maker.walkersAtLine(a, b);
    } else {
        cv::Point centre;
        int width = 0;
        const std::vector<cv::Point> box = placeBox(rng, size, scale, centre, width);
        scene.setCountingBox(box);
        if (kind.theme == Theme::MixedBox)
            maker.boxInsects(box, rng.uniform(6, 10));
        else if (kind.theme == Theme::SwarmBox)
            maker.swarmAtBox(box);
        else if (kind.theme == Theme::WalkersBox)
            maker.walkersAtBox(box);
        else {
            maker.boxInsects(box, rng.uniform(5, 8));
            maker.walkersAtBox(box);
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
        maker.lineInsects(a, b, rng.uniform(6, 10));
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
        maker.boxInsects(box, rng.uniform(6, 10));
    }
    scene.setTrackingBox(tracking);
    return scene;
}
