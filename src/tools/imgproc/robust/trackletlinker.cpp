#include "imgproc/robust/trackletlinker.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace {

constexpr int kUnreachable = 1 << 20; // cost of a pair out of reach
constexpr int kCostScale = 16; // cost units per pixel
// Pieces in one assignment at most; a larger crowd is paired greedily.
constexpr size_t kLargestGroup = 40;
// Steps a piece's starting motion is measured over.
constexpr int kStartPoints = 5;
// Weight of the newest step in a piece's motion.
constexpr double kStepWeight = 0.4;

double length(const cv::Point2d &v)
{
    return std::hypot(v.x, v.y);
}

} // namespace

TrackletLinker::Sample TrackletLinker::sampleOf(int frame, const Detection &d) const
{
    return { frame, d.at, std::sqrt(std::max(d.area, 0.0) / CV_PI) * config.factor };
}

void TrackletLinker::reset()
{
    pieces.clear();
    seen.clear();
    nextId = 0;
    lastFrame = 0;
}

void TrackletLinker::add(int frame, const std::vector<Detection> &found, std::vector<Update> &out)
{
    lastFrame = frame;
    extend(frame, found);
    for (Tracklet &t : pieces) {
        if (t.trajectory >= 0)
            send(t, out);
    }
    join(frame, out);
    link(frame, out);
    pieces.erase(std::remove_if(pieces.begin(), pieces.end(),
                     [](const Tracklet &t) { return !t.open && t.settled; }),
        pieces.end());
    seen.clear();
    for (const Tracklet &t : pieces) {
        if (t.open && t.last.frame == frame)
            seen.push_back({ t.id, t.last.at, t.last.at - t.velocity, t.trajectoryPoints });
    }
}

void TrackletLinker::finish(std::vector<Update> &out)
{
    for (Tracklet &t : pieces)
        t.open = false;
    finishing = true;
    const int end = lastFrame;
    for (int frame = end + 1; !pieces.empty() && frame <= end + config.linkWindow + 1; ++frame) {
        join(frame, out);
        link(frame, out);
        pieces.erase(std::remove_if(
                         pieces.begin(), pieces.end(), [](const Tracklet &t) { return t.settled; }),
            pieces.end());
    }
    finishing = false;
    pieces.clear();
    seen.clear();
}

// Each detection continues the open piece it is certainly the next point of.
void TrackletLinker::predict(std::vector<Detection> &expected) const
{
    expected.clear();
    for (const Tracklet &t : pieces) {
        if (t.open && t.points >= 2)
            expected.push_back({ t.last.at + t.velocity, t.area });
    }
}

void TrackletLinker::extend(int frame, const std::vector<Detection> &found)
{
    const size_t n = found.size();
    pieceOf.assign(n, -1);
    std::vector<double> bestOfBlob(n, -1);
    std::vector<double> secondOfBlob(n, -1);
    const auto better = [](double d, double current) { return current < 0 || d < current; };
    struct Choice
    {
        int blob = -1;
        double best = -1;
        double second = -1;
    };
    std::vector<Choice> choice(pieces.size());
    for (size_t j = 0; j < pieces.size(); ++j) {
        const Tracklet &t = pieces[j];
        if (!t.open)
            continue;
        const bool moving = t.points >= 2;
        const cv::Point2d predicted = t.last.at + (moving ? t.velocity : cv::Point2d());
        const double gate
            = moving ? config.gate + 0.5 * length(t.velocity) : config.gate + config.maxStep;
        for (size_t i = 0; i < n; ++i) {
            const cv::Point2d d = found[i].at - predicted;
            if (std::abs(d.x) > gate || std::abs(d.y) > gate)
                continue;
            const double distance = length(d);
            if (distance > gate)
                continue;
            Choice &c = choice[j];
            if (better(distance, c.best)) {
                c.second = c.best;
                c.best = distance;
                c.blob = static_cast<int>(i);
            } else if (better(distance, c.second)) {
                c.second = distance;
            }
            if (better(distance, bestOfBlob[i])) {
                secondOfBlob[i] = bestOfBlob[i];
                bestOfBlob[i] = distance;
                pieceOf[i] = static_cast<int>(j);
            } else if (better(distance, secondOfBlob[i])) {
                secondOfBlob[i] = distance;
            }
        }
    }
    // A rival within half a gate of the best makes the pairing uncertain:
    // the piece ends there and the linking, which sees further, decides.
    const double margin = 0.5 * config.gate;
    const auto clear
        = [margin](double best, double second) { return second < 0 || second > best + margin; };
    std::vector<char> taken(pieces.size(), 0);
    for (size_t i = 0; i < n; ++i) {
        const int j = pieceOf[i];
        if (j < 0)
            continue;
        const Choice &c = choice[static_cast<size_t>(j)];
        if (c.blob != static_cast<int>(i) || !clear(c.best, c.second)
            || !clear(bestOfBlob[i], secondOfBlob[i])) {
            pieceOf[i] = -1;
            continue;
        }
        Tracklet &t = pieces[static_cast<size_t>(j)];
        const cv::Point2d step = found[i].at - t.last.at;
        t.velocity = t.points == 1 ? step : (1 - kStepWeight) * t.velocity + kStepWeight * step;
        t.last = sampleOf(frame, found[i]);
        t.area = found[i].area;
        t.points += 1;
        t.trajectoryPoints += 1;
        if (t.points <= kStartPoints)
            t.startVelocity = (t.last.at - t.first.at) / static_cast<double>(frame - t.first.frame);
        t.unsent.push_back(t.last);
        taken[static_cast<size_t>(j)] = 1;
    }
    for (size_t j = 0; j < pieces.size(); ++j) {
        if (!taken[j])
            pieces[j].open = false;
    }
    for (size_t i = 0; i < n; ++i) {
        if (pieceOf[i] >= 0)
            continue;
        Tracklet t;
        t.id = nextId++;
        t.first = t.last = sampleOf(frame, found[i]);
        t.area = found[i].area;
        t.points = t.trajectoryPoints = 1;
        t.unsent.push_back(t.first);
        pieces.push_back(t);
    }
}

void TrackletLinker::setHidden(const std::vector<cv::Point> &polygon)
{
    hidden.clear();
    if (polygon.size() >= 3) {
        for (const cv::Point &p : polygon)
            hidden.emplace_back(p);
        hiddenBox = cv::boundingRect(polygon);
    }
}

bool TrackletLinker::throughHidden(const Tracklet &tail, const Tracklet &head) const
{
    if (hidden.empty())
        return false;
    const cv::Point2d from = tail.last.at;
    const cv::Point2d to = head.first.at;
    const cv::Rect2d span(std::min(from.x, to.x), std::min(from.y, to.y),
        std::abs(to.x - from.x) + 1, std::abs(to.y - from.y) + 1);
    if ((span & hiddenBox).empty())
        return false;
    // Every half gate along the way: deeper than a gate inside is in.
    const double step = std::max(1.0, 0.5 * config.gate);
    const int steps
        = std::max(1, static_cast<int>(std::hypot(to.x - from.x, to.y - from.y) / step));
    for (int s = 0; s <= steps; ++s) {
        const cv::Point2d p = from + (to - from) * (double(s) / steps);
        if (cv::pointPolygonTest(hidden, cv::Point2f(p), true) > config.gate)
            return true;
    }
    return false;
}

// A piece no earlier one can carry on into any more starts a trajectory.
void TrackletLinker::join(int frame, std::vector<Update> &out)
{
    for (Tracklet &t : pieces) {
        if (t.trajectory < 0 && !t.carried && frame - t.first.frame >= config.linkWindow) {
            t.trajectory = t.id;
            send(t, out);
        }
    }
}

int TrackletLinker::lostLife(const Tracklet &t) const
{
    return t.trajectoryPoints >= RobustParameters::value(RobustParameters::ConfirmPoints)
        ? config.linkWindow
        : config.tentativeLife;
}

double TrackletLinker::reach(const Tracklet &tail, const Tracklet &head) const
{
    const int gap = head.first.frame - tail.last.frame;
    const int k = std::min(gap, config.coastFrames);
    const int unknown = (tail.points < 2 ? 1 : 0) + (head.points < 2 ? 1 : 0);
    return config.gate * (1 + double(k) / config.coastFrames)
        + 0.25 * k * (length(tail.velocity) + length(head.startVelocity))
        + 0.5 * unknown * config.maxStep * std::min(k, 2);
}

// Each one's motion carried over the gap, forward from the tail and back
// from the head, for as long as an insect keeps going unseen.
double TrackletLinker::linkCost(const Tracklet &tail, const Tracklet &head) const
{
    const int k = std::min(head.first.frame - tail.last.frame, config.coastFrames);
    const cv::Point2d forward
        = tail.last.at + (tail.points >= 2 ? tail.velocity * double(k) : cv::Point2d());
    const cv::Point2d back
        = head.first.at - (head.points >= 2 ? head.startVelocity * double(k) : cv::Point2d());
    return 0.5 * (length(forward - head.first.at) + length(back - tail.last.at));
}

void TrackletLinker::link(int frame, std::vector<Update> &out)
{
    const auto due = [&](const Tracklet &t) {
        return !t.open && !t.settled && t.trajectory >= 0 && frame - t.last.frame >= lostLife(t);
    };
    if (std::none_of(pieces.begin(), pieces.end(), due))
        return;
    const auto inReach = [&](const Tracklet &tail, const Tracklet &head, double *cost) {
        if (head.first.frame <= tail.last.frame)
            return false;
        *cost = linkCost(tail, head);
        return *cost <= reach(tail, head) && !throughHidden(tail, head);
    };
    // The pairs in reach of the due pieces, and those of the other lost
    // pieces that compete for the same later ones.
    tails.clear();
    heads.clear();
    pairs.clear();
    for (size_t h = 0; h < pieces.size(); ++h) {
        if (pieces[h].trajectory < 0 && !pieces[h].carried)
            heads.push_back(h);
    }
    std::vector<char> wanted(heads.size(), 0);
    for (const bool dueOnes : { true, false }) {
        for (size_t t = 0; t < pieces.size(); ++t) {
            const Tracklet &tail = pieces[t];
            if (tail.open || tail.settled || due(tail) != dueOnes)
                continue;
            const size_t row = tails.size();
            bool any = false;
            for (size_t c = 0; c < heads.size(); ++c) {
                double cost = 0;
                if ((dueOnes || wanted[c]) && inReach(tail, pieces[heads[c]], &cost)) {
                    pairs.push_back({ row, c, cost });
                    wanted[c] = 1;
                    any = true;
                }
            }
            if (dueOnes || any)
                tails.push_back(t);
        }
    }
    // Pieces that share no candidate are settled apart: each group of
    // pieces linked by pairs in reach gets its own assignment.
    group.resize(tails.size() + heads.size());
    for (size_t k = 0; k < group.size(); ++k)
        group[k] = static_cast<int>(k);
    for (const Pair &p : pairs)
        group[static_cast<size_t>(groupOf(static_cast<int>(p.row)))]
            = groupOf(static_cast<int>(tails.size() + p.column));
    std::vector<int> headOf(tails.size(), -1);
    // Nodes (tails, then heads) and pairs in runs of one group each.
    const size_t nodes = tails.size() + heads.size();
    std::vector<int> nodeGroup(nodes);
    std::vector<size_t> byGroup(nodes);
    for (size_t k = 0; k < nodes; ++k) {
        nodeGroup[k] = groupOf(static_cast<int>(k));
        byGroup[k] = k;
    }
    std::stable_sort(byGroup.begin(), byGroup.end(),
        [&nodeGroup](size_t x, size_t y) { return nodeGroup[x] < nodeGroup[y]; });
    std::stable_sort(pairs.begin(), pairs.end(),
        [&nodeGroup](const Pair &x, const Pair &y) { return nodeGroup[x.row] < nodeGroup[y.row]; });
    std::vector<int> local(nodes, -1);
    std::vector<size_t> rows;
    std::vector<size_t> columns;
    size_t pair = 0;
    for (size_t begin = 0; begin < nodes;) {
        const int g = nodeGroup[byGroup[begin]];
        size_t end = begin;
        rows.clear();
        columns.clear();
        bool anyDue = false;
        for (; end < nodes && nodeGroup[byGroup[end]] == g; ++end) {
            const size_t k = byGroup[end];
            if (k < tails.size()) {
                local[k] = static_cast<int>(rows.size());
                rows.push_back(k);
                anyDue = anyDue || due(pieces[tails[k]]);
            } else {
                local[k] = static_cast<int>(columns.size());
                columns.push_back(k - tails.size());
            }
        }
        begin = end;
        const size_t firstPair = pair;
        while (pair < pairs.size() && nodeGroup[pairs[pair].row] == g)
            ++pair;
        if (!anyDue || rows.empty() || columns.empty())
            continue;
        if (rows.size() > kLargestGroup || columns.size() > kLargestGroup) {
            assignGreedily(firstPair, pair, headOf);
            continue;
        }
        costs.create(static_cast<int>(rows.size()), static_cast<int>(columns.size()), CV_32SC1);
        costs.setTo(kUnreachable);
        for (size_t q = firstPair; q < pair; ++q) {
            const Pair &p = pairs[q];
            costs.at<int>(local[p.row], local[tails.size() + p.column])
                = 1 + static_cast<int>(p.cost * kCostScale);
        }
        costs.copyTo(given);
        munkres.solve(costs);
        for (size_t i = 0; i < rows.size(); ++i) {
            for (size_t j = 0; j < columns.size(); ++j) {
                if (costs.at<int>(static_cast<int>(i), static_cast<int>(j)) == 0
                    && given.at<int>(static_cast<int>(i), static_cast<int>(j)) != kUnreachable)
                    headOf[rows[i]] = static_cast<int>(columns[j]);
            }
        }
    }
    for (size_t r = 0; r < tails.size(); ++r) {
        Tracklet &tail = pieces[tails[r]];
        if (!due(tail))
            continue;
        tail.settled = true;
        if (headOf[r] < 0) {
            // One still in sight at the video's last frame went nowhere.
            const bool vanished = !finishing || tail.last.frame != lastFrame;
            out.push_back({ Update::End, tail.trajectory, {}, vanished });
            continue;
        }
        Tracklet &head = pieces[heads[static_cast<size_t>(headOf[r])]];
        head.carried = true;
        head.trajectory = tail.trajectory;
        head.trajectoryPoints = tail.trajectoryPoints + head.points;
        send(head, out);
    }
}

// A crowd too large for one assignment in a frame's time: the cheapest
// pairs first.
void TrackletLinker::assignGreedily(size_t first, size_t end, std::vector<int> &headOf)
{
    std::vector<const Pair *> order;
    for (size_t q = first; q < end; ++q)
        order.push_back(&pairs[q]);
    std::sort(
        order.begin(), order.end(), [](const Pair *a, const Pair *b) { return a->cost < b->cost; });
    std::vector<char> taken(heads.size(), 0);
    for (const Pair *p : order) {
        if (headOf[p->row] < 0 && !taken[p->column]) {
            headOf[p->row] = static_cast<int>(p->column);
            taken[p->column] = 1;
        }
    }
}

int TrackletLinker::groupOf(int k)
{
    while (group[static_cast<size_t>(k)] != k)
        k = group[static_cast<size_t>(k)]
            = group[static_cast<size_t>(group[static_cast<size_t>(k)])];
    return k;
}

void TrackletLinker::send(Tracklet &t, std::vector<Update> &out)
{
    for (const Sample &s : t.unsent)
        out.push_back({ Update::Point, t.trajectory, s, false });
    t.unsent.clear();
}
