#include "scenes/eventmatcher.h"

#include <algorithm>
#include <cmath>

#include "imgproc/munkres.h"

EventMatcher::Tally &EventMatcher::Tally::operator+=(const Tally &other)
{
    truth += other.truth;
    counted += other.counted;
    found += other.found;
    directed += other.directed;
    directionRight += other.directionRight;
    return *this;
}

EventMatcher::EventMatcher(int frameTolerance, double distanceTolerance, bool line)
    : frames(frameTolerance)
    , distance(distanceTolerance)
    , atLine(line)
{
}

EventMatcher EventMatcher::forScene(const GroundTruthScene &scene)
{
    return forVideo(scene.fps(), scene.size(), scene.isLine());
}

EventMatcher EventMatcher::forVideo(double fps, cv::Size size, bool line)
{
    return EventMatcher(
        std::max(5, static_cast<int>(std::lround(fps / 10))), 0.08 * size.width, line);
}

GroundTruthScene::EventKind EventMatcher::kindOf(const Result &counted)
{
    if (counted.in != 0 && counted.out != 0)
        return GroundTruthScene::Crossing;
    return counted.in != 0 ? GroundTruthScene::Entry : GroundTruthScene::Exit;
}

GroundTruthScene::EventKind EventMatcher::eventKind(const Result &counted) const
{
    return atLine ? GroundTruthScene::Crossing : kindOf(counted);
}

GroundTruthScene::Direction EventMatcher::directionOf(const Result &counted)
{
    if ((counted.in != 0) == (counted.out != 0))
        return GroundTruthScene::Direction::None;
    return counted.in != 0 ? GroundTruthScene::Direction::LeftToRight
                           : GroundTruthScene::Direction::RightToLeft;
}

EventMatcher::Tallies EventMatcher::match(const std::vector<GroundTruthScene::Event> &truth,
    const QVector<Result> &counted, std::vector<bool> *truthFound,
    std::vector<bool> *countedFound) const
{
    Tallies tallies {};
    if (truthFound)
        truthFound->assign(truth.size(), false);
    if (countedFound)
        countedFound->assign(static_cast<size_t>(counted.size()), false);
    for (const GroundTruthScene::EventKind kind :
        { GroundTruthScene::Crossing, GroundTruthScene::Entry, GroundTruthScene::Exit }) {
        std::vector<const GroundTruthScene::Event *> real;
        for (const GroundTruthScene::Event &e : truth) {
            if (e.kind == kind)
                real.push_back(&e);
        }
        std::vector<const Result *> seen;
        for (const Result &r : counted) {
            if ((r.in != 0 || r.out != 0) && eventKind(r) == kind)
                seen.push_back(&r);
        }
        Tally &tally = tallies[static_cast<size_t>(kind)];
        tally.truth = static_cast<int>(real.size());
        tally.counted = static_cast<int>(seen.size());
        if (real.empty() || seen.empty())
            continue;

        // Costs grow with the distance in frames and pixels; a pair out of
        // tolerance costs more than all possible pairs together, so that the
        // assignment first takes as many pairs as it can.
        const int rows = static_cast<int>(real.size());
        const int cols = static_cast<int>(seen.size());
        const int unreachable = 1002 * (std::max(rows, cols) + 1);
        cv::Mat costs(rows, cols, CV_32SC1);
        for (int i = 0; i < rows; ++i) {
            const GroundTruthScene::Event &e = *real[static_cast<size_t>(i)];
            for (int j = 0; j < cols; ++j) {
                const Result &r = *seen[static_cast<size_t>(j)];
                const double from = windows && e.first >= 0 ? std::min(e.first, e.frame) : e.frame;
                const double to = windows && e.last >= 0 ? std::max(e.last, e.frame) : e.frame;
                const double df = r.frame < from ? from - r.frame
                    : r.frame > to               ? r.frame - to
                                                 : 0.0;
                const double dp = std::hypot(r.x - e.position.x, r.y - e.position.y);
                // 1 + cost: the solver takes a cost of 0 for the largest one.
                costs.at<int>(i, j) = df <= frames && dp <= distance
                    ? 1 + static_cast<int>(500.0 * (df / (frames + 1) + dp / (distance + 1)))
                    : unreachable;
            }
        }
        cv::Mat assignment = costs.clone();
        Munkres munkres;
        munkres.solve(assignment);
        for (int i = 0; i < rows; ++i) {
            for (int j = 0; j < cols; ++j) {
                if (assignment.at<int>(i, j) != 0 || costs.at<int>(i, j) >= unreachable)
                    continue;
                ++tally.found;
                const GroundTruthScene::Direction way = directionOf(*seen[static_cast<size_t>(j)]);
                if (kind == GroundTruthScene::Crossing
                    && way != GroundTruthScene::Direction::None) {
                    ++tally.directed;
                    tally.directionRight += way == real[static_cast<size_t>(i)]->direction;
                }
                if (truthFound)
                    (*truthFound)[static_cast<size_t>(real[static_cast<size_t>(i)] - truth.data())]
                        = true;
                if (countedFound)
                    (*countedFound)[static_cast<size_t>(
                        seen[static_cast<size_t>(j)] - counted.data())]
                        = true;
            }
        }
    }
    return tallies;
}
