#pragma once

#include <deque>
#include <unordered_map>
#include <vector>

#include <opencv2/core.hpp>

#include "imgproc/robust/robustparameters.h"
#include "imgproc/robust/trackletlinker.h"

// Counting as geometry on whole trajectories, point by point in frame order.
//
// Each point is the mean of the trajectory's points `smooth_s` either way.
// Line, from P1 to P2: a point is on the left (s < 0) or the right (s > 0)
// of it by s = (x2-x1)(y-y1) - (y2-y1)(x-x1), once it is more than
// `side_margin_px` (or the insect's radius times `side_share`) away. A
// trajectory crosses when it goes from one side to the other through the
// segment, dated at the frame its centre passed the line; left to right is
// in, right to left out. Going back and forth within the margin, or leaving
// on the side it came from, counts nothing.
// Box: counting edges are the stretches of the box's edges inside the
// tracking box. The centre passing one inwards is an entry, outwards an
// exit, with the same margin. Where the box hides what is in it: a
// trajectory never seen inside that starts within `edge_reach_px` of an
// edge and goes that much farther out came out, dated at its start; one
// that came from that much farther out and vanishes within reach of an
// edge, heading in over its last `heading_s`, went in. A slow one may come
// a shorter way: seen in every frame of that `heading_s`, wholly out and
// then at the edge, within its radius, with its radius shrunk to
// `hidden_share` of what it was wholly out (it starts so, for one coming
// out). A trajectory counts once seen in `confirm_points` frames.
class TrajectoryCounter
{
public:
    using Sample = TrackletLinker::Sample;

    struct Event
    {
        int frame = 0;
        cv::Point at;
        int in = 0;
        int out = 0;
    };

    // Counts at a line (two different points), at a box (three or more) or
    // not at all. `tracking` is the tracking box, empty for the whole frame.
    void setZones(const std::vector<cv::Point> &counting, const std::vector<cv::Point> &tracking);
    // `firstFrame`: the video's first counted frame; nothing comes out then.
    void setVideo(const RobustParameters::Video &video, int firstFrame);
    void reset() { courses.clear(); }

    void add(int trajectory, const Sample &sample, std::vector<Event> &events);
    void end(int trajectory, bool vanished, std::vector<Event> &events);

    bool countsLine() const { return line.size() == 2; }
    // Pairs of ends, each pair one counting stretch of the box's edges.
    const std::vector<cv::Point2d> &countingEdges() const { return edges; }

private:
    struct Course
    {
        std::deque<Sample> raw; // as seen, for smoothing
        int rawFirst = 0; // index of raw.front() in the trajectory
        int received = 0;
        int smoothed = 0; // samples smoothed and counted so far
        int points = 0;
        Sample first;
        Sample previous;
        double previousSide = 0; // signed distance from the line, px
        int side = 0; // -1 left or outside, +1 right or inside, 0 not yet off
        bool everIn = false;
        bool passed = false; // went through the segment since it was last clear
        Sample passage;
        bool outJudged = false;
        double firstOutside = 0; // px from the box, outside; negative inside
        double widest = 0; // radius while wholly outside the box, px
        int startSeen = 0; // frames seen in over the first `heading_s`
        double farthestOutside = -1e9;
        std::deque<Sample> recent; // the last `heading_s`
        std::vector<Event> pending; // until confirmed
    };

    void smoothNext(Course &c, std::vector<Event> &events);
    void consider(Course &c, const Sample &s, std::vector<Event> &events);
    void countLine(Course &c, const Sample &s, std::vector<Event> &events);
    template <typename Through>
    void countPassage(
        Course &c, const Sample &s, double d, std::vector<Event> &events, Through through);
    void judgeOut(Course &c, std::vector<Event> &events);
    void note(Course &c, const Event &e, std::vector<Event> &events) const;
    bool confirmed(const Course &c) const;
    double outside(const cv::Point2d &p) const;
    // How far from a line or edge a point is on one side of it: its body
    // wholly over.
    double margin(const Sample &s) const;
    // The nearest counting edge within reach of `p`: false when none, else
    // `inward` set to the unit normal pointing into the box.
    bool nearEdge(const cv::Point2d &p, cv::Point2d *inward) const;
    // `s`, the end of `c` that is `out` px outside the box, `c` going `away`
    // px farther out than that, is where a slow insect went in or came out;
    // `steady`: seen in every frame of that end's `heading_s`.
    bool shortWay(const Course &c, const Sample &s, double out, double away, bool steady) const;

    RobustParameters::Video config;
    int videoStart = 0;
    std::vector<cv::Point2d> line;
    std::vector<cv::Point2f> box;
    std::vector<cv::Point2d> edges;
    std::unordered_map<int, Course> courses;
};
