#include "robustcounting.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include <opencv2/imgproc.hpp>

#include "areacontour.h"
#include "insectdetect.h"
#include "logging.h"
#include "targetpool.h"

namespace {

constexpr int kPoolSize = 1000;
constexpr int kUnreachable = 1 << 20; // cost of a pair outside every gate
constexpr int kClaimed = -2; // a detection that only holds hidden tracks
constexpr char kSeen = 1; // a track matched to a detection
constexpr char kHidden = 2; // a track moving on inside another's blob
constexpr char kSplit = 3; // a track seen in its own part of a shared blob

double length(const cv::Point2d &v)
{
    return std::hypot(v.x, v.y);
}

// Box edges ending in a point with a zero coordinate are skipped, as the
// classic box counter skips them, so that both methods count at the same edges.
bool boxPointUsable(const cv::Point &p)
{
    return p.x != 0 && p.y != 0;
}

// Distance from p to the segment a-b.
double segmentDistance(const cv::Point2d &p, const cv::Point2d &a, const cv::Point2d &b)
{
    const cv::Point2d ab = b - a;
    const double span = ab.dot(ab);
    const double t = span > 0 ? std::clamp((p - a).dot(ab) / span, 0.0, 1.0) : 0.0;
    return length(p - (a + t * ab));
}

// Signed distance of p from the line through a and b; the sign tells the side.
double sideDistance(const cv::Point2d &p, const cv::Point2d &a, const cv::Point2d &b)
{
    const cv::Point2d ab = b - a;
    const double span = length(ab);
    return span > 0 ? (ab.x * (p.y - a.y) - ab.y * (p.x - a.x)) / span : 0.0;
}

// Where the lines through p-q and a-b meet: u along p-q (0 at p, 1 at q)
// and v along a-b. False when they are parallel.
bool linesMeet(const cv::Point2d &p, const cv::Point2d &q, const cv::Point2d &a,
    const cv::Point2d &b, double *u, double *v)
{
    const cv::Point2d r = q - p;
    const cv::Point2d s = b - a;
    const double denominator = r.x * s.y - r.y * s.x;
    if (std::abs(denominator) < 1e-9)
        return false;
    const cv::Point2d ap = a - p;
    *u = (ap.x * s.y - ap.y * s.x) / denominator;
    *v = (ap.x * r.y - ap.y * r.x) / denominator;
    return true;
}

// Where along p-q the segment a-b is crossed, from 0 at p to 1 at q, or -1.
double crossingAlong(
    const cv::Point2d &p, const cv::Point2d &q, const cv::Point2d &a, const cv::Point2d &b)
{
    double u = 0;
    double v = 0;
    if (!linesMeet(p, q, a, b, &u, &v))
        return -1;
    return u >= 0 && u <= 1 && v >= 0 && v <= 1 ? u : -1;
}

cv::Point rounded(const cv::Point2d &p)
{
    return cv::Point(cvRound(p.x), cvRound(p.y));
}

} // namespace

RobustCounting::RobustCounting()
{
    TargetPool::instance().resize(kPoolSize);
    munkres.setVerbose(false);
    config = Settings::forVideo(cv::Size(640, 480), 25);
}

RobustCounting::~RobustCounting()
{
    TargetPool::destroy();
}

RobustCounting::Settings RobustCounting::Settings::forVideo(const cv::Size &size, double fps)
{
    // Rates outside what a camera records fall back to 25 frames per second.
    const double rate = std::isfinite(fps) && fps >= 1 && fps <= 1000 ? fps : 25.0;
    // Lengths scale with the frame: the numbers below are for 640 pixels wide.
    const double scale = std::max(size.width, 1) / 640.0;
    Settings s;
    // A fast insect crosses the frame in about a second.
    s.maxStep = std::max(10.0 * scale, 800.0 * scale / rate);
    // The detector's blobs grow 15 px around the insect: their centres jump
    // by that much when a blob merges with or splits from another.
    s.gate = 16.0 * scale;
    // An insect that starts again moves off where it sat: its first blob
    // lies part of a step away, beyond the blob's own jitter.
    s.stopGate = s.gate + 0.25 * s.maxStep;
    s.tentativeLife = 2;
    // An insect that waits at a box's border before it goes in sits still,
    // unseen: its track waits for it to move on, and its entry is decided
    // then, from where it goes.
    s.confirmedLife = std::max(8, static_cast<int>(std::lround(2.5 * rate)));
    s.lineLife = std::max(8, static_cast<int>(std::lround(2.0 * rate)));
    s.coastLife = std::max(2 * kConfirmHits, static_cast<int>(std::lround(0.15 * rate)));
    s.sharedLife = std::max(3, static_cast<int>(std::lround(0.3 * rate)));
    // Insects meeting on a line linger there longer than at a box edge.
    s.lineSharedLife = std::max(3, static_cast<int>(std::lround(0.6 * rate)));
    // Closer predictions than this cannot share a blob's pixels out.
    s.apart = 0.5 * s.gate;
    // Slower than this an insect hovers on the spot.
    s.stillSpeed = 2.0 * scale;
    s.sideMargin = 8.0 * scale;
    s.clearMargin = 3.0 * scale;
    s.bornMargin = 2.0 * scale;
    s.edgeReach = 30.0 * scale;
    s.unseenSteps = 4;
    return s;
}

QVariantMap RobustCounting::parameters() const
{
    return { { QStringLiteral("max_step_px"), config.maxStep },
        { QStringLiteral("gate_px"), config.gate },
        { QStringLiteral("stop_gate_px"), config.stopGate },
        { QStringLiteral("confirm_hits"), kConfirmHits },
        { QStringLiteral("tentative_life_frames"), config.tentativeLife },
        { QStringLiteral("confirmed_life_frames"), config.confirmedLife },
        { QStringLiteral("line_life_frames"), config.lineLife },
        { QStringLiteral("coast_life_frames"), config.coastLife },
        { QStringLiteral("shared_life_frames"), config.sharedLife },
        { QStringLiteral("line_shared_life_frames"), config.lineSharedLife },
        { QStringLiteral("apart_px"), config.apart },
        { QStringLiteral("still_speed_px"), config.stillSpeed },
        { QStringLiteral("line_restart_steps"), kLineRestartSteps },
        { QStringLiteral("line_far_restart_gates"), kLineFarRestartGates },
        { QStringLiteral("resumed_in_margins"), kResumedInMargins },
        { QStringLiteral("dart_back_steps"), kDartBackSteps },
        { QStringLiteral("landing_speed_steps"), kLandingSpeed },
        { QStringLiteral("landing_margins"), kLandingMargins },
        { QStringLiteral("untangle_share"), kUntangleShare },
        { QStringLiteral("untangle_gates"), kUntangleGates },
        { QStringLiteral("side_margin_px"), config.sideMargin },
        { QStringLiteral("clear_margin_px"), config.clearMargin },
        { QStringLiteral("born_margin_px"), config.bornMargin },
        { QStringLiteral("edge_reach_px"), config.edgeReach },
        { QStringLiteral("unseen_steps"), config.unseenSteps } };
}

void RobustCounting::reset(const cv::Mat &mask)
{
    for (TargetList *list : { &detected, &targets }) {
        for (Target *t : *list)
            TargetPool::instance().release(t);
        list->clear();
    }
    tracks.clear();
    Target::reset_counter();
    detector.set_mask(mask);
}

void RobustCounting::startVideo(const cv::Size &size, double fps)
{
    config = Settings::forVideo(size, fps);
    firstCounted = -1;
}

bool RobustCounting::process(const cv::Mat &grey)
{
    if (!detector.accepts(grey)) {
        qCWarning(lcImgproc, "Frame %dx%d of type %d rejected: it does not fit the mask", grey.cols,
            grey.rows, grey.type());
        return false;
    }
    try {
        detector.detectabsdiff(grey, detected);
        associate();
        return true;
    } catch (const std::exception &e) {
        qCWarning(lcImgproc, "Frame skipped: %s", e.what());
    } catch (...) {
        qCWarning(lcImgproc, "Frame skipped: unknown error");
    }
    for (Target *t : detected)
        TargetPool::instance().release(t);
    detected.clear();
    return false;
}

void RobustCounting::associate()
{
    const size_t rows = detected.size();
    const size_t cols = tracks.size();
    trackOf.assign(rows, -1);
    matched.assign(cols, 0);
    predicted.resize(cols);
    for (size_t j = 0; j < cols; ++j) {
        const Track &t = tracks[j];
        predicted[j] = t.position + t.velocity * static_cast<double>(t.missed + 1);
    }

    // Insects close together make one blob. A blob that holds the predicted
    // positions of two moving tracks or more is no evidence for either: they
    // move on as predicted until the blob splits, and it starts no track.
    for (size_t i = 0; i < rows; ++i) {
        const Target *d = detected[i];
        const cv::Rect blob(d->origine, cv::Size(d->width, d->height));
        int inside = 0;
        for (size_t j = 0; j < cols; ++j) {
            if (canHide(tracks[j]) && blob.contains(rounded(predicted[j])))
                ++inside;
        }
        if (inside < 2)
            continue;
        trackOf[i] = kClaimed;
        for (size_t j = 0; j < cols; ++j) {
            if (canHide(tracks[j]) && blob.contains(rounded(predicted[j])))
                matched[j] = kHidden;
        }
    }

    // At a line, insects sit side by side or on one spot and go their ways:
    // looking further along each one's motion tells which one moved off.
    const double restart = counting == Line ? kLineRestartSteps : 1.0;
    if (rows > 0 && cols > 0) {
        costs.create(static_cast<int>(rows), static_cast<int>(cols), CV_32SC1);
        for (size_t j = 0; j < cols; ++j) {
            const Track &t = tracks[j];
            // Room for the blob's jitter and for a change of speed that
            // grows with the frames it has not been seen. A hovering
            // insect's blob comes and goes where it is: one passing by is
            // not it, and it is picked up where it stopped if it moves off.
            const double speed = length(t.velocity);
            const double movingGate = t.hits >= 2 ? config.gate + 0.5 * speed
                    + (speed >= config.stillSpeed ? 0.25 * config.gate * t.missed : 0.0)
                                                  : config.maxStep + config.gate;
            // An insect cannot be seen inside the counting box: a track
            // whose motion takes it there is not looked for there. Its blob
            // lags it by half a step, so one predicted just inside may
            // still show outside, going in, the first frame.
            const bool coasting = t.missed <= config.coastLife
                && (box.size() < 3
                    || cv::pointPolygonTest(box, cv::Point2f(predicted[j]), true)
                        < (t.missed == 0 ? config.sideMargin : 0));
            // Last seen on a counting edge heading in, it went in: whatever
            // shows up there later is another insect. One that waited at the
            // border and moves on shows once, already on its way in.
            cv::Point where;
            const bool wentIn = counting == Box && t.missed > 0 && t.confirmed()
                && headsIntoEdge(t, edges, &where)
                && length(cv::Point2d(where - t.seen))
                    <= (t.resumed ? kResumedInMargins : 1.0) * config.sideMargin;
            // A crowded frame holds hundreds of blobs and tracks: pairs
            // plainly out of reach (a pixel's slack on each box) are passed
            // over before any distance is taken.
            const bool restarts = t.missed > 0 && !wentIn;
            const double reach = movingGate + 1.0;
            const cv::Point2d stopEnd = t.position + t.velocity * restart;
            const cv::Rect2d stopBox(std::min(t.position.x, stopEnd.x) - config.stopGate - 1.0,
                std::min(t.position.y, stopEnd.y) - config.stopGate - 1.0,
                std::abs(stopEnd.x - t.position.x) + 2.0 * config.stopGate + 2.0,
                std::abs(stopEnd.y - t.position.y) + 2.0 * config.stopGate + 2.0);
            for (size_t i = 0; i < rows; ++i) {
                double cost = -1;
                if (trackOf[i] != kClaimed && matched[j] != kHidden) {
                    const cv::Point2d at(detected[i]->centroid);
                    if (coasting && std::abs(at.x - predicted[j].x) <= reach
                        && std::abs(at.y - predicted[j].y) <= reach) {
                        const double toPrediction = length(at - predicted[j]);
                        if (toPrediction <= movingGate)
                            cost = toPrediction;
                    }
                    if (restarts && stopBox.contains(at)) {
                        const double toLast = fromStop(t, at, restart);
                        if (toLast <= config.stopGate && (cost < 0 || toLast < cost))
                            cost = toLast;
                    }
                }
                // 1 + cost: the solver gives a cost of 0 the largest value.
                costs.at<int>(static_cast<int>(i), static_cast<int>(j))
                    = cost < 0 ? kUnreachable : 1 + static_cast<int>(cost * 16);
            }
        }
        solveByGroups(rows, cols);
    }

    // A moving track left without a detection whose predicted position lies
    // in another track's blob is hidden in it as well.
    for (size_t j = 0; j < cols; ++j) {
        if (matched[j] != 0 || !canHide(tracks[j]))
            continue;
        for (size_t i = 0; i < rows; ++i) {
            const Target *d = detected[i];
            if (cv::Rect(d->origine, cv::Size(d->width, d->height))
                    .contains(rounded(predicted[j]))) {
                matched[j] = kHidden;
                break;
            }
        }
    }
    if (counting == Line)
        restartFarther(restart);
    // The blobs' own pixels still tell the insects in them apart.
    for (size_t i = 0; i < rows; ++i) {
        if (trackOf[i] == kClaimed)
            splitBlob(*detected[i]);
    }
    for (size_t j = 0; j < cols; ++j) {
        Track &t = tracks[j];
        if (matched[j] == kSplit)
            continue;
        t.missed += 1;
        if (matched[j] != kHidden)
            continue;
        t.shared += 1;
        t.position = predicted[j];
        t.missed = 0;
        const cv::Point at = rounded(predicted[j]);
        t.target->last = t.target->centroid;
        t.target->origine += at - t.target->centroid;
        t.target->centroid = at;
    }

    for (size_t i = 0; i < detected.size(); ++i) {
        Target *d = detected[i];
        const int j = trackOf[i];
        if (j == kClaimed) {
            TargetPool::instance().release(d);
            continue;
        }
        if (j < 0) {
            d->age = 0;
            d->agemovement = 0;
            Track track;
            track.target = d;
            track.position = cv::Point2d(d->centroid);
            track.firstSeen = d->centroid;
            track.seen = d->centroid;
            track.missed = 0;
            tracks.push_back(track);
            targets.push_back(d);
            continue;
        }
        Track &t = tracks[static_cast<size_t>(j)];
        const cv::Point2d at(d->centroid);
        const cv::Point2d step = (at - t.position) / static_cast<double>(t.missed);
        t.velocity = t.hits == 1 ? step : 0.5 * t.velocity + 0.5 * step;
        t.resumed = t.missed > config.coastLife;
        t.position = at;
        t.seen = d->centroid;
        t.hits += 1;
        t.missed = 0;
        t.shared = 0;
        t.target->update(*d);
        t.target->age = 0;
        t.target->agemovement += 1;
        TargetPool::instance().release(d);
    }
    detected.clear();

    for (const Track &t : tracks)
        qCDebug(lcImgproc,
            "Track %d at (%.0f, %.0f) moving (%.1f, %.1f): seen %d, missed %d, hidden %d",
            t.target->id, t.position.x, t.position.y, t.velocity.x, t.velocity.y, t.hits, t.missed,
            t.shared);
    // Unseen tracks age; those unseen too long go, but a confirmed one of a
    // box run only after countBox has seen whether it went in.
    for (size_t j = tracks.size(); j-- > 0;) {
        Track &t = tracks[j];
        if (t.missed == 0)
            continue;
        t.target->age = t.missed;
        t.target->agemovement = 0;
        // At a counting line nothing is counted when a track ends: it may
        // wait longer for an insect that sits still.
        const int life = !t.confirmed() ? (landedOnLine(t) ? config.lineLife : config.tentativeLife)
            : counting == Line          ? config.lineLife
                                        : config.confirmedLife;
        if (t.missed > life && (!t.confirmed() || counting != Box))
            dropTrack(j);
    }
}

// A fast insect stops at once, and sits still unseen: one that lands on the
// line may have been seen only twice on its way there.
bool RobustCounting::landedOnLine(const Track &t) const
{
    return counting == Line && t.hits == kConfirmHits - 1 && t.shared == 0 && t.side != 0
        && length(t.velocity) >= kLandingSpeed * config.maxStep
        && std::abs(
               sideDistance(t.position, cv::Point2d(countingArea[0]), cv::Point2d(countingArea[1])))
        <= kLandingMargins * config.sideMargin;
}

// A paused insect starts again where it stopped: up to `restart` steps on
// from its last blob, whose centre lies between where it was and where it sat.
double RobustCounting::fromStop(const Track &t, const cv::Point2d &at, double restart)
{
    return segmentDistance(at, t.position, t.position + t.velocity * restart);
}

// An insect that sat still on a line moves off from where it sat, which its
// track's last blob, trailing behind it as it stopped, may lie well short of.
// A blob nothing else took, that would start a track on the line with no
// side, goes to the nearest paused track within a few stop gates.
void RobustCounting::restartFarther(double restart)
{
    for (size_t i = 0; i < trackOf.size(); ++i) {
        if (trackOf[i] != -1)
            continue;
        const cv::Point2d at(detected[i]->centroid);
        if (std::abs(sideDistance(at, cv::Point2d(countingArea[0]), cv::Point2d(countingArea[1])))
            > config.sideMargin)
            continue;
        int best = -1;
        double nearest = kLineFarRestartGates * config.stopGate;
        for (size_t j = 0; j < tracks.size(); ++j) {
            const Track &t = tracks[j];
            if (matched[j] != 0 || t.missed == 0 || !t.confirmed() || t.side == 0)
                continue;
            const double d = fromStop(t, at, restart);
            if (d <= nearest) {
                nearest = d;
                best = static_cast<int>(j);
            }
        }
        if (best < 0)
            continue;
        trackOf[i] = best;
        matched[static_cast<size_t>(best)] = kSeen;
    }
}

// Detections and tracks that share no reachable pair cannot affect each
// other's assignment: each group of linked ones is solved on its own, most
// of them a single pair, so that the cost stays that of the few crowded spots.
void RobustCounting::solveByGroups(size_t rows, size_t cols)
{
    // Union-find over rows 0 .. rows - 1 and columns rows .. rows + cols - 1.
    parent.resize(rows + cols);
    for (size_t k = 0; k < parent.size(); ++k)
        parent[k] = static_cast<int>(k);
    const auto root = [this](int k) {
        while (parent[static_cast<size_t>(k)] != k) {
            parent[static_cast<size_t>(k)]
                = parent[static_cast<size_t>(parent[static_cast<size_t>(k)])];
            k = parent[static_cast<size_t>(k)];
        }
        return k;
    };
    for (size_t i = 0; i < rows; ++i) {
        const int *cost = costs.ptr<int>(static_cast<int>(i));
        for (size_t j = 0; j < cols; ++j) {
            if (cost[j] < kUnreachable)
                parent[static_cast<size_t>(root(static_cast<int>(i)))]
                    = root(static_cast<int>(rows + j));
        }
    }
    groupRows.assign(rows + cols, {});
    groupCols.assign(rows + cols, {});
    for (size_t i = 0; i < rows; ++i)
        groupRows[static_cast<size_t>(root(static_cast<int>(i)))].push_back(static_cast<int>(i));
    for (size_t j = 0; j < cols; ++j)
        groupCols[static_cast<size_t>(root(static_cast<int>(rows + j)))].push_back(
            static_cast<int>(j));

    for (size_t g = 0; g < rows + cols; ++g) {
        const std::vector<int> &r = groupRows[g];
        const std::vector<int> &c = groupCols[g];
        if (r.empty() || c.empty())
            continue;
        if (r.size() == 1 && c.size() == 1) {
            trackOf[static_cast<size_t>(r[0])] = c[0];
            matched[static_cast<size_t>(c[0])] = kSeen;
            continue;
        }
        assignment.create(static_cast<int>(r.size()), static_cast<int>(c.size()), CV_32SC1);
        for (size_t a = 0; a < r.size(); ++a) {
            for (size_t b = 0; b < c.size(); ++b)
                assignment.at<int>(static_cast<int>(a), static_cast<int>(b))
                    = costs.at<int>(r[a], c[b]);
        }
        munkres.solve(assignment);
        for (size_t a = 0; a < r.size(); ++a) {
            for (size_t b = 0; b < c.size(); ++b) {
                if (assignment.at<int>(static_cast<int>(a), static_cast<int>(b)) == 0
                    && costs.at<int>(r[a], c[b]) < kUnreachable) {
                    trackOf[static_cast<size_t>(r[a])] = c[b];
                    matched[static_cast<size_t>(c[b])] = kSeen;
                }
            }
        }
    }
}

// Each moving pixel of the blob goes to the nearest prediction within reach
// of it. A group's box centre is where that insect's blob of its own would
// have its centre, since a blob is its pixels' box grown evenly, and it holds
// both the lobe where the insect was and the one where it is, as a whole
// blob does.
void RobustCounting::splitBlob(const Target &blob)
{
    const cv::Mat &moved = detector.movement();
    if (moved.empty())
        return;
    const cv::Rect area = cv::Rect(blob.origine, cv::Size(blob.width, blob.height))
        & cv::Rect(cv::Point(), moved.size());
    groups.clear();
    for (size_t j = 0; j < tracks.size(); ++j) {
        if (matched[j] != kHidden || !area.contains(rounded(predicted[j])))
            continue;
        const double reach = config.gate + 0.5 * length(tracks[j].velocity);
        Group g;
        g.track = static_cast<int>(j);
        g.prediction = predicted[j];
        g.reach2 = reach * reach;
        groups.push_back(g);
    }
    if (groups.size() < 2)
        return;
    for (int y = area.y; y < area.y + area.height; ++y) {
        const uchar *row = moved.ptr<uchar>(y);
        for (int x = area.x; x < area.x + area.width; ++x) {
            if (row[x] == 0)
                continue;
            Group *nearest = nullptr;
            double best = 0;
            for (Group &g : groups) {
                const double dx = x - g.prediction.x;
                const double dy = y - g.prediction.y;
                const double d = dx * dx + dy * dy;
                if (d <= g.reach2 && (!nearest || d < best)) {
                    nearest = &g;
                    best = d;
                }
            }
            if (!nearest)
                continue;
            if (nearest->pixels == 0)
                nearest->box = cv::Rect(x, y, 1, 1);
            else
                nearest->box |= cv::Rect(x, y, 1, 1);
            nearest->pixels += 1;
        }
    }
    for (const Group &g : groups) {
        if (g.pixels < kMinGroupPixels)
            continue;
        Track &t = tracks[static_cast<size_t>(g.track)];
        // Where a moving insect's prediction nearly meets another's, as
        // where their paths cross, the pixels between them could be either's
        // and would pull both back: it goes on as predicted.
        const auto near = [this, &g](const Group &h) {
            return &h != &g && length(h.prediction - g.prediction) < config.apart;
        };
        if (length(t.velocity) >= config.stillSpeed
            && std::any_of(groups.begin(), groups.end(), near))
            continue;
        const cv::Point at(g.box.x + g.box.width / 2, g.box.y + g.box.height / 2);
        const cv::Point2d step = (cv::Point2d(at) - t.position) / static_cast<double>(t.missed + 1);
        t.velocity = 0.5 * t.velocity + 0.5 * step;
        t.position = cv::Point2d(at);
        t.seen = at;
        t.hits += 1;
        t.missed = 0;
        t.shared = 0;
        t.resumed = false;
        t.target->last = t.target->centroid;
        t.target->centroid = at;
        t.target->origine = g.box.tl();
        t.target->width = g.box.width;
        t.target->height = g.box.height;
        t.target->age = 0;
        t.target->agemovement += 1;
        matched[static_cast<size_t>(g.track)] = kSplit;
    }
}

bool RobustCounting::canHide(const Track &t) const
{
    const int life = counting == Line ? config.lineSharedLife : config.sharedLife;
    return t.hits >= 2 && t.missed == 0 && t.shared < life;
}

void RobustCounting::dropTrack(size_t index)
{
    TargetPool::instance().release(tracks[index].target);
    tracks.erase(tracks.begin() + static_cast<std::ptrdiff_t>(index));
    targets.erase(targets.begin() + static_cast<std::ptrdiff_t>(index));
}

QVector<Result> RobustCounting::count(const Step &step, InsectDetect &recorder)
{
    static const std::vector<cv::Point> none;
    const std::vector<cv::Point> &area = step.zones ? step.zones->getArea() : none;
    const std::vector<cv::Point> &mask = step.zones ? step.zones->getMask() : none;
    if (area != countingArea || mask != trackingArea) {
        countingArea = area;
        trackingArea = mask;
        findCountingEdges();
    }
    if (firstCounted < 0)
        firstCounted = step.frame;
    for (Track &t : tracks) {
        if (t.missed != 0)
            continue;
        if (t.hits == 1)
            t.firstFrame = step.frame;
        t.lastFrame = step.frame;
    }
    QVector<Result> events;
    if (counting == Line)
        countLine(step, countingArea[0], countingArea[1], recorder, events);
    else if (counting == Box)
        countBox(step, edges, recorder, events, false);
    return events;
}

QVector<Result> RobustCounting::finishVideo(const Step &step, InsectDetect &recorder)
{
    QVector<Result> events;
    if (counting == Box)
        countBox(step, edges, recorder, events, true);
    return events;
}

// A box counts where its edges lie in the tracking box, the only place an
// insect can be followed up to them; a line counts all along.
void RobustCounting::findCountingEdges()
{
    box.clear();
    edges.clear();
    counting = None;
    if (countingArea.size() == 2) {
        if (countingArea[0] != countingArea[1])
            counting = Line;
        return;
    }
    if (countingArea.size() < 3)
        return;
    counting = Box;
    for (const cv::Point &p : countingArea)
        box.emplace_back(p);
    std::vector<cv::Point2f> tracking;
    for (const cv::Point &p : trackingArea)
        tracking.emplace_back(p);
    const auto open = [&tracking](const cv::Point &p) {
        return tracking.size() < 3 || cv::pointPolygonTest(tracking, cv::Point2f(p), false) >= 0;
    };
    const size_t corners = countingArea.size();
    for (size_t k = 0; k < corners; ++k) {
        const cv::Point p = countingArea[k];
        const cv::Point q = countingArea[(k + 1) % corners];
        const int steps = std::max(std::abs(q.x - p.x), std::abs(q.y - p.y));
        if (steps == 0 || !boxPointUsable(p) || !boxPointUsable(q))
            continue;
        bool inside = false;
        cv::Point from;
        cv::Point last;
        for (int s = 0; s <= steps; ++s) {
            const cv::Point at = rounded(cv::Point2d(p) + cv::Point2d(q - p) * (double(s) / steps));
            const bool now = open(at);
            if (now && !inside)
                from = at;
            if (inside && (!now || s == steps)) {
                const cv::Point to = now ? at : last;
                if (to != from) {
                    edges.push_back(from);
                    edges.push_back(to);
                }
            }
            inside = now;
            last = at;
        }
    }
}

// Two insects that meet at a line may leave each other's tracks behind: once
// their tracks part, each insect's own motion from before they met tells
// where it is, and the sides go with it. Their paths take a few frames to
// tell apart, so the pair is judged for a while after it parts, as long as
// the two are still near each other.
void RobustCounting::untangle(int frame)
{
    const auto clear
        = [](const Track &t) { return t.confirmed() && t.missed == 0 && t.shared == 0; };
    seenNow.clear();
    for (size_t j = 0; j < tracks.size(); ++j) {
        if (clear(tracks[j]))
            seenNow.push_back(j);
    }
    closeTo.assign(tracks.size(), -1);
    for (const size_t j : seenNow) {
        double nearest = config.gate;
        for (const size_t k : seenNow) {
            const double d = length(tracks[k].position - tracks[j].position);
            if (k != j && d < nearest) {
                nearest = d;
                closeTo[j] = static_cast<int>(k);
            }
        }
    }
    for (const size_t j : seenNow) {
        Track &t = tracks[j];
        if (closeTo[j] >= 0 || t.partner < 0 || t.aloneFrame < 0
            || frame - t.aloneFrame > config.lineSharedLife)
            continue;
        for (const size_t k : seenNow) {
            Track &u = tracks[k];
            if (k <= j || u.target->id != t.partner || u.partner != t.target->id || closeTo[k] >= 0
                || u.aloneFrame < 0 || frame - u.aloneFrame > config.lineSharedLife
                || length(t.position - u.position) > kUntangleGates * config.gate)
                continue;
            const cv::Point2d tWent
                = t.alonePosition + t.aloneVelocity * static_cast<double>(frame - t.aloneFrame);
            const cv::Point2d uWent
                = u.alonePosition + u.aloneVelocity * static_cast<double>(frame - u.aloneFrame);
            const double kept = length(t.position - tWent) + length(u.position - uWent);
            const double swapped = length(t.position - uWent) + length(u.position - tWent);
            if (swapped < kUntangleShare * kept) {
                qCDebug(lcImgproc, "Tracks %d and %d swapped insects where they met", t.target->id,
                    u.target->id);
                std::swap(t.side, u.side);
                std::swap(t.sidePosition, u.sidePosition);
                std::swap(t.newSideFrames, u.newSideFrames);
                std::swap(t.newSidePosition, u.newSidePosition);
                std::swap(t.newSideFrame, u.newSideFrame);
                // Both were on the line, where they met, when they parted:
                // a crossing either makes now dates from then.
                t.clearFrame = u.clearFrame = t.partedFrame >= 0 ? t.partedFrame : frame;
                t.partner = -1;
                u.partner = -1;
            }
            break;
        }
    }
    for (const size_t j : seenNow) {
        Track &t = tracks[j];
        if (closeTo[j] >= 0) {
            t.partner = tracks[static_cast<size_t>(closeTo[j])].target->id;
            t.partedFrame = -1;
            continue;
        }
        if (t.partner >= 0) {
            if (t.partedFrame < 0)
                t.partedFrame = frame;
            if (frame - t.partedFrame < config.coastLife)
                continue;
        }
        t.partner = -1;
        t.alonePosition = t.position;
        t.aloneVelocity = t.velocity;
        t.aloneFrame = frame;
    }
}

void RobustCounting::countLine(const Step &step, const cv::Point &a, const cv::Point &b,
    InsectDetect &recorder, QVector<Result> &events)
{
    if (a == b)
        return;
    const cv::Point2d pa(a);
    const cv::Point2d pb(b);
    untangle(step.frame);
    gone.clear();
    for (Track &t : tracks) {
        // Over to the new side, unless it went round the line's end.
        const auto cross = [&](int side) {
            if (InsectDetect::Intersect(
                    rounded(t.sidePosition), rounded(t.newSidePosition), a, b)) {
                qCDebug(lcImgproc, "Track %d crossed from (%.0f, %.0f) to (%.0f, %.0f), %d hits",
                    t.target->id, t.sidePosition.x, t.sidePosition.y, t.newSidePosition.x,
                    t.newSidePosition.y, t.hits);
                const int frame
                    = t.clearFrame >= 0 ? std::min(t.clearFrame, t.newSideFrame) : t.newSideFrame;
                if (t.confirmed()) {
                    events.append(record(step, recorder, frame, rounded(t.newSidePosition), 1, 1));
                } else {
                    t.pendingCrossings += 1;
                    t.pendingFrame = frame;
                    t.pendingAt.reset();
                }
            }
            t.newSideFrames = 0;
            t.side = side;
            t.sidePosition = t.position;
            t.clearFrame = -1;
        };
        // Lost from sight just after it went over, it went on that way.
        if (t.missed == 1 && t.newSideFrames > 0) {
            if (jumpedOver(t, pa, pb))
                t.newSideFrames = 0;
            else
                cross(-t.side);
        }
        // Moved on as predicted inside another's blob, it may well have
        // stopped: its side is judged once it is seen again.
        if (t.missed != 0 || t.shared > 0) {
            t.clearFrame = -1;
            continue;
        }
        const double distance = sideDistance(t.position, pa, pb);
        const int side = distance > config.sideMargin ? 1 : distance < -config.sideMargin ? -1 : 0;
        // A crossing dates from when the track got clear of the line on the
        // other side, seen there every frame since: one leaving along the
        // line takes a while from there to the side margin.
        if (t.side != 0 && -t.side * distance > config.clearMargin) {
            if (t.clearFrame < 0)
                t.clearFrame = step.frame;
        } else {
            t.clearFrame = -1;
        }
        if (side != 0) {
            // Only a passage through the line itself counts, not one round
            // its ends.
            // A track that starts inside the margin, as one does where two
            // insects' blob splits on the line, came from the side it
            // started on.
            if (t.side == 0) {
                const double born = sideDistance(cv::Point2d(t.firstSeen), pa, pb);
                if (born * side < -config.bornMargin) {
                    t.side = -side;
                    t.sidePosition = cv::Point2d(t.firstSeen);
                }
            }
            // Off the line from the start, on the side it goes to, it may be
            // an insect that sat on the line and darted off, or one that
            // crossed it unseen; it is judged once seen twice, since a stray
            // blob seen once would take the paused track's crossing with it.
            if ((t.side == 0 && t.hits > 1) || (t.hits == 2 && t.side == side)) {
                const bool darted = dartedOff(step, t, side, a, b, recorder, events);
                if (!darted && t.hits == 2 && t.side == side)
                    unseenCrossers.push_back(static_cast<size_t>(&t - tracks.data()));
            }
            if (t.side != 0 && side != t.side) {
                // The new side holds once the track has been seen on it a
                // few frames in a row: the centre of a blob that two
                // insects share jumps back and forth.
                if (t.newSideFrames == 0) {
                    t.newSidePosition = t.position;
                    t.newSideFrame = step.frame;
                }
                t.newSideFrames += 1;
                if (t.newSideFrames >= kSideFrames)
                    cross(side);
            } else {
                t.newSideFrames = 0;
                t.side = side;
                t.sidePosition = t.position;
            }
        } else {
            t.newSideFrames = 0;
        }
        if (t.hits == kConfirmHits) {
            for (; t.pendingCrossings > 0; --t.pendingCrossings)
                events.append(record(step, recorder, t.pendingFrame,
                    t.pendingAt.value_or(rounded(t.position)), 1, 1));
        }
    }
    // Whether one crossed unseen is judged once all are: a paused track in
    // its way that another took over by darting off was not its insect.
    for (const size_t j : unseenCrossers)
        crossedUnseen(tracks[j], tracks[j].side, a, b);
    unseenCrossers.clear();
    // Tracks whose insects darted off go once all are judged.
    std::sort(gone.begin(), gone.end());
    for (size_t k = gone.size(); k-- > 0;)
        dropTrack(gone[k]);
}

void RobustCounting::countBox(const Step &step, const std::vector<cv::Point> &edges,
    InsectDetect &recorder, QVector<Result> &events, bool videoEnds)
{
    // Tracks that end go after all are judged: at the video's end every
    // unseen one does, and one may have followed on from another.
    gone.clear();
    for (size_t j = tracks.size(); j-- > 0;) {
        Track &t = tracks[j];
        if (!t.confirmed())
            continue;
        // Out: it showed up at an edge and has moved away from it since, or
        // showed up a few steps out, where it came out unseen.
        if (!t.exitCounted && t.missed == 0) {
            const bool young = t.hits <= 4 * kConfirmHits;
            if (young)
                t.leaving = leavesEdge(t, edges) ? t.leaving + 1 : 0;
            cv::Point from = t.firstSeen;
            int early = 0;
            if (t.leaving >= kLeavingFrames || (young && cameOutUnseen(t, edges, &from, &early))) {
                events.prepend(record(step, recorder, t.firstFrame - early, from, 0, 1));
                t.exitCounted = true;
            }
        }
        // In: gone for good (or at the end of the video) after heading into
        // an edge; out, if it never left the edge it appeared on.
        if (t.missed <= config.confirmedLife && (!videoEnds || t.missed == 0))
            continue;
        cv::Point where;
        if (headsIntoEdge(t, edges, &where) && !followedOn(t)) {
            events.prepend(record(step, recorder, t.lastFrame, where, 1, 0));
        } else if (!t.exitCounted && t.missed > 0 && fadedAtEdge(t, edges)) {
            events.prepend(record(step, recorder, t.firstFrame, t.firstSeen, 0, 1));
        }
        gone.push_back(j);
    }
    for (const size_t j : gone)
        dropTrack(j);
}

bool RobustCounting::headsIntoEdge(
    const Track &t, const std::vector<cv::Point> &edges, cv::Point *where) const
{
    const double speed = length(t.velocity);
    if (speed < 0.5)
        return false;
    // From where it was last seen, along its motion, past where it was
    // followed to inside a blob.
    const cv::Point2d from(t.seen);
    const cv::Point2d to = t.position + t.velocity * (config.edgeReach / speed);
    for (size_t k = 0; k + 1 < edges.size(); k += 2) {
        if (!boxPointUsable(edges[k]) || !boxPointUsable(edges[k + 1]))
            continue;
        if (!InsectDetect::Intersect(rounded(from), rounded(to), edges[k], edges[k + 1]))
            continue;
        // The event is placed where the probe meets the edge.
        double along = 0;
        double onEdge = 0;
        *where
            = linesMeet(from, to, cv::Point2d(edges[k]), cv::Point2d(edges[k + 1]), &along, &onEdge)
            ? rounded(from + std::clamp(along, 0.0, 1.0) * (to - from))
            : t.seen;
        return true;
    }
    return false;
}

// Its first blob on the way off lies past the line and out of the paused
// track's reach, so it starts a track of its own that has no side yet; traced
// back along its motion it comes from where the paused track sat.
bool RobustCounting::dartedOff(const Step &step, Track &t, int side, const cv::Point &a,
    const cv::Point &b, InsectDetect &recorder, QVector<Result> &events)
{
    const cv::Point2d pa(a);
    const cv::Point2d pb(b);
    // One that has kept to the line since it started, however long, took
    // the insect over where it sat and followed it along the line: it
    // started where that track sat, and it crosses now.
    const bool keptToLine = t.hits > 2 * kConfirmHits;
    if ((keptToLine && t.side != 0) || side * sideDistance(t.position, pa, pb) <= 0)
        return false;
    const cv::Point2d first(t.firstSeen);
    const cv::Point2d back = keptToLine ? first : first - t.velocity * kDartBackSteps;
    int best = -1;
    double nearest = config.stopGate;
    // The paused track was last seen before the new one started, or just
    // after, as one is where a blob splits in two; it may have been followed
    // on inside another's blob after that.
    for (size_t j = 0; j < tracks.size(); ++j) {
        const Track &p = tracks[j];
        if (&p == &t || p.missed == 0 || !p.confirmed() || p.side != -side
            || p.lastFrame - p.shared > t.firstFrame + 1
            || std::abs(sideDistance(cv::Point2d(p.seen), pa, pb)) > config.sideMargin
            || std::find(gone.begin(), gone.end(), j) != gone.end())
            continue;
        const double d = segmentDistance(cv::Point2d(p.seen), back, first);
        if (d <= nearest) {
            nearest = d;
            best = static_cast<int>(j);
        }
    }
    if (best < 0)
        return false;
    const Track &p = tracks[static_cast<size_t>(best)];
    if (!InsectDetect::Intersect(rounded(p.sidePosition), rounded(t.position), a, b))
        return false;
    // It left where it sat as many steps before it showed as lie between,
    // even before the paused track was last seen: a track held in the
    // middle of two insects' blob stops there while they go on.
    const int steps = static_cast<int>(
        std::lround(length(first - cv::Point2d(p.seen)) / std::max(length(t.velocity), 1.0)));
    const int frame = keptToLine ? step.frame : t.firstFrame - steps + 1;
    const cv::Point at
        = keptToLine ? rounded(t.position) : rounded(cv::Point2d(p.seen) + t.velocity);
    qCDebug(
        lcImgproc, "Track %d darted off the line where track %d sat", t.target->id, p.target->id);
    if (t.confirmed()) {
        events.append(record(step, recorder, frame, at, 1, 1));
    } else {
        t.pendingCrossings += 1;
        t.pendingFrame = frame;
        t.pendingAt = at;
    }
    t.side = side;
    t.sidePosition = t.position;
    t.newSideFrames = 0;
    gone.push_back(static_cast<size_t>(best));
    return true;
}

// A fast, faint insect, or one inside another's blob, can go over the line
// without a blob of its own; where no track was, the new track it starts
// past the line, heading away, takes the crossing, dated by its speed.
void RobustCounting::crossedUnseen(Track &t, int side, const cv::Point &a, const cv::Point &b)
{
    const cv::Point2d pa(a);
    const cv::Point2d pb(b);
    const cv::Point2d first(t.firstSeen);
    const double speed = length(t.velocity);
    const double born = side * sideDistance(first, pa, pb);
    if (speed < config.stillSpeed || born <= config.sideMargin
        || side * sideDistance(t.position, pa, pb) <= born)
        return;
    const double reach = config.sideMargin + config.unseenSteps * speed;
    const cv::Point2d back = first - t.velocity * (reach / speed);
    const double along = crossingAlong(first, back, pa, pb);
    if (along < 0)
        return;
    const cv::Point2d where = first + along * (back - first);
    const int frame
        = t.firstFrame - static_cast<int>(std::lround((along * reach - config.sideMargin) / speed));
    if (frame < firstCounted)
        return;
    // A track not yet confirmed there may be the insect's own first blob,
    // merged with another's as it set off.
    for (size_t j = 0; j < tracks.size(); ++j) {
        const Track &u = tracks[j];
        if (&u != &t && u.confirmed() && std::find(gone.begin(), gone.end(), j) == gone.end()
            && segmentDistance(cv::Point2d(u.seen), where, first) <= config.stopGate)
            return;
    }
    const cv::Point at = rounded(where + t.velocity * (config.sideMargin / speed));
    qCDebug(lcImgproc, "Track %d crossed the line unseen at (%d, %d)", t.target->id, at.x, at.y);
    t.pendingCrossings += 1;
    t.pendingFrame = frame;
    t.pendingAt = at;
}

bool RobustCounting::jumpedOver(const Track &t, const cv::Point2d &a, const cv::Point2d &b) const
{
    for (const Track &u : tracks) {
        if (&u == &t || u.firstFrame < t.newSideFrame)
            continue;
        const cv::Point2d born(u.firstSeen);
        if (-t.side * sideDistance(born, a, b) <= config.sideMargin
            && length(born - t.newSidePosition) <= config.gate)
            return true;
    }
    return false;
}

bool RobustCounting::followedOn(const Track &t) const
{
    // A blob's centre that jumps towards the edge, as a hovering insect's
    // does, sends the track in while a new one starts where the insect is,
    // and a track picked up where it waited still heads the way it came
    // while the insect flies off in a new one. Seen a few times, the new one
    // is the insect, even if it leaves the frame at once, its first blob a
    // fast step away; one that came out there is another insect.
    for (const Track &u : tracks) {
        if (&u != &t && !u.exitCounted && std::abs(u.firstFrame - t.lastFrame) <= 2 && u.confirmed()
            && segmentDistance(cv::Point2d(t.seen), cv::Point2d(u.firstSeen) - u.velocity,
                   cv::Point2d(u.firstSeen))
                <= config.stopGate)
            return true;
    }
    return false;
}

bool RobustCounting::leavesEdge(const Track &t, const std::vector<cv::Point> &edges) const
{
    const cv::Point2d first(t.firstSeen);
    for (size_t k = 0; k + 1 < edges.size(); k += 2) {
        if (!boxPointUsable(edges[k]) || !boxPointUsable(edges[k + 1]))
            continue;
        const cv::Point2d a(edges[k]);
        const cv::Point2d b(edges[k + 1]);
        const double start = segmentDistance(first, a, b);
        if (start > config.edgeReach)
            continue;
        if (segmentDistance(t.position, a, b) <= start + config.sideMargin)
            continue;
        // Heading out: back along its motion from where it appeared lies
        // the edge.
        const double speed = length(t.velocity);
        if (speed < 0.5)
            continue;
        const cv::Point2d back
            = first - t.velocity * ((config.edgeReach + config.sideMargin) / speed);
        if (InsectDetect::Intersect(t.firstSeen, rounded(back), edges[k], edges[k + 1]))
            return true;
    }
    return false;
}

// A faint insect that comes out slowly shows only where its blob leaves the
// box: its track appears on the edge, stays there and is lost.
bool RobustCounting::fadedAtEdge(const Track &t, const std::vector<cv::Point> &edges) const
{
    for (size_t k = 0; k + 1 < edges.size(); k += 2) {
        if (boxPointUsable(edges[k]) && boxPointUsable(edges[k + 1])
            && segmentDistance(cv::Point2d(t.firstSeen), edges[k], edges[k + 1])
                <= config.sideMargin
            && segmentDistance(cv::Point2d(t.seen), edges[k], edges[k + 1]) <= config.sideMargin) {
            qCDebug(lcImgproc, "Track %d faded out on an edge", t.target->id);
            return true;
        }
    }
    return false;
}

bool RobustCounting::cameOutUnseen(
    const Track &t, const std::vector<cv::Point> &edges, cv::Point *where, int *frames) const
{
    const double speed = length(t.velocity);
    if (speed < 0.5)
        return false;
    const cv::Point2d first(t.firstSeen);
    // One that appeared at an edge is judged by leavesEdge alone.
    for (size_t k = 0; k + 1 < edges.size(); k += 2) {
        if (boxPointUsable(edges[k]) && boxPointUsable(edges[k + 1])
            && segmentDistance(first, edges[k], edges[k + 1]) <= config.edgeReach)
            return false;
    }
    // The first edge back along its motion, a few steps away at most.
    const double reach = config.edgeReach + config.sideMargin + config.unseenSteps * speed;
    const cv::Point2d back = first - t.velocity * (reach / speed);
    double along = 2;
    size_t edge = 0;
    for (size_t k = 0; k + 1 < edges.size(); k += 2) {
        if (!boxPointUsable(edges[k]) || !boxPointUsable(edges[k + 1]))
            continue;
        const double u = crossingAlong(first, back, edges[k], edges[k + 1]);
        if (u >= 0 && u < along) {
            along = u;
            edge = k;
        }
    }
    if (along > 1)
        return false;
    const cv::Point2d a(edges[edge]);
    const cv::Point2d b(edges[edge + 1]);
    if (segmentDistance(t.position, a, b) <= segmentDistance(first, a, b) + config.sideMargin)
        return false;
    *where = rounded(first + along * (back - first));
    *frames = static_cast<int>(std::lround(along * reach / speed));
    // Not before the run began, nor another insect's track that was there
    // then (or, just moved on from a pause, on its way out since: that
    // insect flew off from the border), nor the track that already counted
    // this exit.
    const int frame = t.firstFrame - *frames;
    if (frame < firstCounted)
        return false;
    for (const Track &u : tracks) {
        if (&u == &t)
            continue;
        if (u.hits >= 2 && u.lastFrame >= frame - 1
            && (u.resumed ? segmentDistance(cv::Point2d(u.seen), cv::Point2d(*where), first)
                          : length(cv::Point2d(u.seen - *where)))
                <= config.stopGate)
            return false;
        if (u.exitCounted && std::abs(u.firstFrame - frame) <= *frames + 2
            && length(cv::Point2d(u.firstSeen - *where)) <= config.stopGate)
            return false;
    }
    return true;
}

Result RobustCounting::record(
    const Step &step, InsectDetect &recorder, int frame, const cv::Point &at, int in, int out) const
{
    return recorder.record(step.videoPath, frame, at, in, out, step.fps, step.startTime);
}
