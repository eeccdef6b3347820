#pragma once

#include <array>
#include <vector>

#include <QVector>

#include "groundtruthscene.h"
#include "result.h"

// Pairs counted events with true ones, one to one: a pair needs the same
// kind, frames at most `frameTolerance` apart and positions at most
// `distanceTolerance` px apart. Among the possible pairings it takes one
// with the most pairs, and among those the closest.
class EventMatcher
{
public:
    struct Tally
    {
        int truth = 0;
        int counted = 0;
        int found = 0;
        int missed() const { return truth - found; }
        int extra() const { return counted - found; }
        Tally &operator+=(const Tally &other);
    };
    // Indexed by GroundTruthScene::EventKind.
    using Tallies = std::array<Tally, 3>;

    EventMatcher(int frameTolerance, double distanceTolerance);

    // The tolerances of the report for a scene: a tenth of a second (5
    // frames at least) and 8 % of the frame's width.
    static EventMatcher forScene(const GroundTruthScene &scene);

    // A count file's line as an event: in and out is a crossing, in alone an
    // entry, out alone an exit.
    static GroundTruthScene::EventKind kindOf(const Result &counted);

    // `truthFound` and `countedFound`, when given, tell per event whether it
    // was paired.
    Tallies match(const std::vector<GroundTruthScene::Event> &truth, const QVector<Result> &counted,
        std::vector<bool> *truthFound = nullptr, std::vector<bool> *countedFound = nullptr) const;

private:
    int frames;
    double distance;
};
