#pragma once

#include <vector>

#include <opencv2/core.hpp>

#include <QString>

#include "zones/areacontour.h"

// A synthetic recording with known insect paths and the counting events they
// make: a textured, slightly noisy background with a little lighting
// flicker, maybe a slow drift of the whole picture, dark discs or ellipses
// (with flickering wings and legs) moving over it, and the boxes to count
// with. Frames are made on demand; nothing is stored but the paths.
class GroundTruthScene
{
public:
    enum EventKind { Crossing, Entry, Exit };

    // Which way a crossing goes, walking the line from its first point to
    // its second: left to right is counted In=1;Out=0, right to left
    // In=0;Out=1.
    enum class Direction { None, LeftToRight, RightToLeft };

    struct Event
    {
        int frame = 0; // numbered as in the count file: frame index - 1
        cv::Point position;
        EventKind kind = Crossing;
        int insect = 0; // index in swarm()
        Direction direction = Direction::None; // crossings only
        // The frames (numbered as `frame`) the body touched the line or
        // border around the event, a second at most each way, -1 for
        // `frame` alone: a walker takes seconds over it, and a count
        // anywhere then is in time.
        int first = -1;
        int last = -1;
    };

    struct Insect
    {
        std::vector<cv::Point2d> path; // one position per frame from `start`
        int start = 0; // frame index of path[0]; before it, it sits at path[0]
        double radius = 4;
        int level = 40; // grey level of its body
        double elongation = 1; // body length over width; 1 is a disc
        bool appendages = false; // wings and legs that change every frame
        QString behaviour; // what it does, for reports
    };

    // An insect is on one side (inside, outside) once it is this far from
    // the line (the box border), in pixels; a count needs a change of side.
    static constexpr double kSideMargin = 3.0;

    GroundTruthScene(const QString &name, cv::Size size, double fps, int frames, unsigned seed);

    // Two points: a counting line; three or more: a counting box (closed
    // when saved). The tracking box is closed when saved.
    void setCountingBox(const std::vector<cv::Point> &box) { counting = box; }
    void setTrackingBox(const std::vector<cv::Point> &box) { tracking = box; }
    void setFlicker(double amplitude) { flicker = amplitude; }
    // The whole picture, insects and all, moves this far each frame.
    void setDrift(const cv::Point2d &perFrame) { drift = perFrame; }
    void addInsect(const Insect &insect) { insects.push_back(insect); }

    const QString &name() const { return sceneName; }
    cv::Size size() const { return frameSize; }
    double fps() const { return rate; }
    int frames() const { return frameCount; }
    const std::vector<cv::Point> &countingBox() const { return counting; }
    const std::vector<cv::Point> &trackingBox() const { return tracking; }
    const std::vector<Insect> &swarm() const { return insects; }
    bool isLine() const { return counting.size() == 2; }

    // Where an insect is at a frame index, on the ground.
    static cv::Point2d positionAt(const Insect &insect, int index);
    // Where it shows in the picture, which may drift over the ground.
    cv::Point2d pictureAt(const Insect &insect, int index) const;
    // The direction of a step from `from` to `to` over the line a-b.
    static Direction directionOf(
        const cv::Point2d &from, const cv::Point2d &to, const cv::Point2d &a, const cv::Point2d &b);

    // The frame of `index`, BGR.
    void render(int index, cv::Mat &frame) const;
    // The true events, in frame order, of the frames a run processes (from
    // frame 91 on).
    std::vector<Event> truth() const;

    // Writes the video with cv::VideoWriter (`fourcc` "MJPG", "mp4v",
    // "avc1" for H.264, ...) and its two box files; false when the writer
    // cannot be opened.
    bool write(const QString &videoPath, const char *fourcc) const;
    // Writes the box files of `videoPath` as the window's "Save" buttons do:
    // the counting line or box and the tracking box, a box of three points
    // or more closed first. Returns the zones as saved.
    static AreaContour saveBoxes(const QString &videoPath, const std::vector<cv::Point> &counting,
        const std::vector<cv::Point> &tracking);

private:
    void prepareBackground() const;
    void drawInsect(size_t which, int index) const;
    void crossings(int insect, std::vector<Event> &events) const;
    void boxPassages(int insect, std::vector<Event> &events) const;
    // Sets the event's first and last from `distance` (signed px from the
    // line or border per frame index) around its frame.
    void touching(const Insect &insect, const std::vector<double> &distance, Event &event) const;

    QString sceneName;
    cv::Size frameSize;
    double rate;
    int frameCount;
    unsigned seed;
    double flicker = 0;
    cv::Point2d drift;
    std::vector<cv::Point> counting;
    std::vector<cv::Point> tracking;
    std::vector<Insect> insects;

    // Made on first use.
    mutable cv::Mat background; // CV_16SC1
    mutable cv::Mat shifted; // the background where the picture has drifted to
    mutable std::vector<cv::Mat> noise; // CV_16SC1 layers
    mutable cv::Mat sum;
    mutable cv::Mat grey;
};
