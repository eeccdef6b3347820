#pragma once

#include <vector>

#include <opencv2/core.hpp>

#include "imgproc/munkres.h"
#include "imgproc/robust/robustparameters.h"

// Turns each frame's insect positions into trajectories, looking ahead.
//
// Frame to frame, a detection continues a piece of track (a tracklet) only
// where that is certain: each is the other's nearest within the gate, with
// no rival nearly as near. Otherwise the piece ends and a new one starts. A
// piece that ended (lost) is linked to one that started later by one
// assignment over all pieces in reach, costed on each one's motion carried
// forward over the gap and the other's carried back, as soon as it has been
// lost for its lifetime; the video being recorded, the events of a
// trajectory come that much later. States and lifetimes:
//
//   tentative  seen in fewer than `confirm_points` frames: lost for good
//              after `tentative_life_s`
//   confirmed  seen in that many: lost for good after `link_window_s`
//   lost       its piece ended; waits for a later piece to carry it on
//   ended      lost for good, or the video ended
//
// A piece joins a trajectory (its own, or the one it carries on) once every
// piece that could carry on into it has been decided, `link_window_s` after
// its start; its points go to the caller in frame order from then on.
class TrackletLinker
{
public:
    struct Sample
    {
        int frame = 0;
        cv::Point2d at;
        double radius = 0; // of a disc of the blob's area, frame px
    };

    // What the caller hears about trajectories, in order.
    struct Update
    {
        enum Kind { Point, End };
        Kind kind = Point;
        int trajectory = 0;
        Sample sample; // for Point
        bool vanished = false; // for End: lost from sight, not at the video's end
    };

    // Where an insect is found, or expected, and its size.
    struct Detection
    {
        cv::Point2d at; // frame px
        double area = 0; // working px
    };

    // A piece of track seen this frame, for the overlay.
    struct Live
    {
        int id = 0;
        cv::Point2d at;
        cv::Point2d previous;
        int points = 0;
    };

    // Forgets everything; ids start again from 0.
    void reset();
    void setVideo(const RobustParameters::Video &video) { config = video; }
    // Where insects cannot be seen (the counting box): a gap whose path goes
    // in there is no gap, but an insect going in and another coming out.
    void setHidden(const std::vector<cv::Point> &polygon);
    // One frame's positions; appends what it settles to `out`.
    void add(int frame, const std::vector<Detection> &found, std::vector<Update> &out);
    // Where the moving pieces seen last frame are expected next, with the
    // size they were seen at.
    void predict(std::vector<Detection> &expected) const;
    // Settles everything: the pieces still seen end at the last frame.
    void finish(std::vector<Update> &out);

    const std::vector<Live> &live() const { return seen; }

private:
    struct Tracklet
    {
        int id = 0;
        Sample first;
        Sample last;
        cv::Point2d startVelocity; // px per frame over its first points
        cv::Point2d velocity; // px per frame, recent
        double area = 0;
        int points = 0;
        bool open = true;
        int trajectory = -1; // once it joined one
        int trajectoryPoints = 0; // of its trajectory up to and with it
        bool carried = false; // carries on an earlier piece
        bool settled = false; // lost, and whether a later piece carries it on is decided
        std::vector<Sample> unsent;
    };

    void extend(int frame, const std::vector<Detection> &found);
    Sample sampleOf(int frame, const Detection &d) const;
    void join(int frame, std::vector<Update> &out);
    void link(int frame, std::vector<Update> &out);
    double reach(const Tracklet &tail, const Tracklet &head) const;
    double linkCost(const Tracklet &tail, const Tracklet &head) const;
    bool throughHidden(const Tracklet &tail, const Tracklet &head) const;
    int lostLife(const Tracklet &t) const;
    void send(Tracklet &t, std::vector<Update> &out);
    int groupOf(int k);
    // Pairs [first, end) of one group, cheapest first.
    void assignGreedily(size_t first, size_t end, std::vector<int> &headOf);

    RobustParameters::Video config;
    std::vector<cv::Point2f> hidden;
    cv::Rect2d hiddenBox;
    std::vector<Tracklet> pieces;
    std::vector<Live> seen;
    int nextId = 0;
    int lastFrame = 0;
    bool finishing = false;
    Munkres munkres;
    cv::Mat costs;
    cv::Mat given;
    std::vector<int> pieceOf; // per position
    std::vector<size_t> tails;
    std::vector<size_t> heads;
    struct Pair
    {
        size_t row; // in tails
        size_t column; // in heads
        double cost;
    };
    std::vector<Pair> pairs;
    std::vector<int> group; // union-find over tails, then heads
};
