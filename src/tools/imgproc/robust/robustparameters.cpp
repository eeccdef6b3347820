#include "imgproc/robust/robustparameters.h"

#include <algorithm>
#include <cmath>

namespace {

using P = RobustParameters;

// The README's table of the robust method lists these rows as they are.
const P::Entry kTable[] = {
    { P::WorkWidth, "work_width_px", 640, "px",
        "widest frame the background model works on; wider frames are shrunk by a whole factor" },
    { P::BackgroundRate, "background_rate", 6, "grey levels/s",
        "how fast the background follows a lasting change of a pixel" },
    { P::DriftCheck, "drift_check_s", 0.1, "s",
        "how often the camera's drift is measured; in between it goes on as it went" },
    { P::ForegroundShare, "foreground_share", 0.25, "",
        "share of that rate where an insect is seen, so a stopped one stays visible for seconds" },
    { P::Bootstrap, "bootstrap_s", 3, "s",
        "the first background is each pixel's median over this stretch of the video, so an insect "
        "there from the start is not taken for background" },
    { P::BootstrapFrames, "bootstrap_frames", 128, "frames",
        "most frames held for that median, which bounds its memory" },
    { P::MinThreshold, "min_threshold", 10, "grey levels",
        "least difference from the background that is foreground" },
    { P::NoiseFactor, "noise_factor", 4, "",
        "the threshold in mean absolute differences from the background" },
    { P::MinArea, "min_area_px", 6, "px^2", "smallest blob that is an insect" },
    { P::GroupGap, "group_gap_px", 3, "px",
        "pieces of foreground this close are one insect (a wing, legs, a body cut by its shade)" },
    { P::SplitShare, "split_share", 0.7, "",
        "a blob holding the predicted positions of several insects, and at least this share of "
        "their areas together, is split among them" },
    { P::GhostContrast, "ghost_contrast", 2, "",
        "a blob whose outline steps this many times more in the background than in the frame is "
        "where an insect was when the background was taken: the background takes the frame there" },
    { P::MaxSpeed, "max_speed_px_s", 800, "px/s", "fastest insect" },
    { P::Gate, "gate_px", 10, "px",
        "room around a predicted position, on top of half a step of motion" },
    { P::ConfirmPoints, "confirm_points", 3, "frames",
        "frames a trajectory is seen in before it counts" },
    { P::TentativeLife, "tentative_life_s", 0.2, "s",
        "a trajectory seen in fewer frames is lost for good after this" },
    { P::LinkWindow, "link_window_s", 2, "s",
        "a confirmed trajectory is lost for good after this; events come this late" },
    { P::CoastTime, "coast_s", 0.3, "s", "how far motion is extrapolated into a gap" },
    { P::SideMargin, "side_margin_px", 3, "px", "distance from a line to be on one side of it" },
    { P::SideShare, "side_share", 1, "",
        "or this share of the insect's radius, if more: its body wholly over the side" },
    { P::SmoothTime, "smooth_s", 0.1, "s",
        "a trajectory's point is the mean of its points this far either way" },
    { P::EdgeReach, "edge_reach_px", 30, "px",
        "distance from a counting edge at which a trajectory starts or ends there" },
    { P::HiddenShare, "hidden_share", 0.75, "",
        "a slow trajectory that ends (starts) within its radius of a counting edge, with at most "
        "this share of its radius wholly outside, went in (came out) a short way: the box hides "
        "part of it" },
    { P::HeadingTime, "heading_s", 0.4, "s",
        "stretch of a trajectory's start or end that tells its heading" },
    { P::MinHeading, "min_heading_px", 2, "px",
        "least motion across a counting edge over that stretch to head in or out" },
};

static_assert(sizeof(kTable) / sizeof(kTable[0]) == P::Count, "one entry per name");

} // namespace

const RobustParameters::Entry &RobustParameters::entry(Name name)
{
    return kTable[name];
}

QVariantMap RobustParameters::map()
{
    QVariantMap values;
    for (const Entry &e : kTable)
        values.insert(QString::fromLatin1(e.key), e.value);
    return values;
}

RobustParameters::Video RobustParameters::forVideo(const cv::Size &frameSize, double fps)
{
    // Rates outside what a camera records fall back to 25 frames per second.
    const double rate = std::isfinite(fps) && fps >= 1 && fps <= 1000 ? fps : 25.0;
    const auto frames
        = [rate](Name n) { return std::max(1, static_cast<int>(std::lround(value(n) * rate))); };
    const int width = std::max(frameSize.width, 1);
    Video v;
    v.factor = std::max(1, static_cast<int>(std::lround(width / value(WorkWidth))));
    v.scale = width / 640.0;
    v.backgroundStep = value(BackgroundRate) / rate;
    v.driftFrames = frames(DriftCheck);
    v.bootstrapFrames = std::min(frames(Bootstrap), static_cast<int>(value(BootstrapFrames)));
    v.minArea = std::max(2.0, value(MinArea) * v.scale * v.scale / (v.factor * v.factor));
    v.groupGap = value(GroupGap) * v.scale / v.factor;
    v.maxStep = std::max(10.0 * v.scale, value(MaxSpeed) * v.scale / rate);
    v.gate = value(Gate) * v.scale;
    v.linkWindow = frames(LinkWindow);
    v.tentativeLife = frames(TentativeLife);
    v.coastFrames = frames(CoastTime);
    v.sideMargin = value(SideMargin) * v.scale;
    v.smoothFrames = frames(SmoothTime);
    v.edgeReach = value(EdgeReach) * v.scale;
    v.headingFrames = frames(HeadingTime);
    v.minHeading = value(MinHeading) * v.scale;
    return v;
}
