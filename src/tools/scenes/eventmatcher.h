#pragma once

#include <array>
#include <vector>

#include <QVector>

#include "imgproc/result.h"
#include "scenes/groundtruthscene.h"

// Pairs counted events with true ones, one to one: a pair needs the same
// kind, frames at most `frameTolerance` apart and positions at most
// `distanceTolerance` px apart. Among the possible pairings it takes one
// with the most pairs, and among those the closest. A crossing is paired
// whichever way it was counted; how many of the paired ones that carry a
// direction have the true one is told apart.
class EventMatcher
{
public:
    struct Tally
    {
        int truth = 0;
        int counted = 0;
        int found = 0;
        int directed = 0; // found crossings counted with a direction
        int directionRight = 0; // of those, the true direction
        int missed() const { return truth - found; }
        int extra() const { return counted - found; }
        Tally &operator+=(const Tally &other);
    };
    // Indexed by GroundTruthScene::EventKind.
    using Tallies = std::array<Tally, 3>;

    // At a counting line (`line`) every counted event is a crossing, in
    // either direction or none; at a box in and out together is a crossing
    // too (as a line's events read to the box's rule).
    EventMatcher(int frameTolerance, double distanceTolerance, bool line = false);

    // Whether a count anywhere in an event's first..last frames (the body
    // on the line or border) is in time; else only at its frame. Off by
    // default.
    void setTouchWindows(bool on) { windows = on; }

    // The tolerances of the report for a scene: a tenth of a second (5
    // frames at least) and 8 % of the frame's width.
    static EventMatcher forScene(const GroundTruthScene &scene);
    static EventMatcher forVideo(double fps, cv::Size size, bool line);

    // A count file's line as an event at a box: in and out is a crossing,
    // in alone an entry, out alone an exit.
    static GroundTruthScene::EventKind kindOf(const Result &counted);
    // The same where this matcher counts: at a line, always a crossing.
    GroundTruthScene::EventKind eventKind(const Result &counted) const;
    // The direction a counted crossing carries: In=1;Out=0 left to right,
    // In=0;Out=1 right to left, both or neither none.
    static GroundTruthScene::Direction directionOf(const Result &counted);

    // `truthFound` and `countedFound`, when given, tell per event whether it
    // was paired.
    Tallies match(const std::vector<GroundTruthScene::Event> &truth, const QVector<Result> &counted,
        std::vector<bool> *truthFound = nullptr, std::vector<bool> *countedFound = nullptr) const;

private:
    int frames;
    double distance;
    bool atLine;
    bool windows = false;
};
