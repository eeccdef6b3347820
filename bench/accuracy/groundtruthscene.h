#pragma once

#include <vector>

#include <opencv2/core.hpp>

#include <QString>

// A synthetic recording with known insect paths and the counting events they
// make: a textured, slightly noisy background with a little lighting
// flicker, dark discs moving over it, and the boxes to count with. Frames
// are made on demand; nothing is stored but the paths.
class GroundTruthScene
{
public:
    enum EventKind { Crossing, Entry, Exit };

    struct Event
    {
        int frame = 0; // numbered as in the count file: frame index - 1
        cv::Point position;
        EventKind kind = Crossing;
        int insect = 0; // index in swarm()
    };

    struct Insect
    {
        std::vector<cv::Point2d> path; // one position per frame from `start`
        int start = 0; // frame index of path[0]; before it, it sits at path[0]
        double radius = 4;
        int level = 40; // grey level of its body
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
    void addInsect(const Insect &insect) { insects.push_back(insect); }

    const QString &name() const { return sceneName; }
    cv::Size size() const { return frameSize; }
    double fps() const { return rate; }
    int frames() const { return frameCount; }
    const std::vector<cv::Point> &countingBox() const { return counting; }
    const std::vector<cv::Point> &trackingBox() const { return tracking; }
    const std::vector<Insect> &swarm() const { return insects; }
    bool isLine() const { return counting.size() == 2; }

    // Where an insect is at a frame index.
    static cv::Point2d positionAt(const Insect &insect, int index);

    // The frame of `index`, BGR.
    void render(int index, cv::Mat &frame) const;
    // The true events, in frame order, of the frames a run processes (from
    // frame 91 on).
    std::vector<Event> truth() const;

    // Writes the video with cv::VideoWriter (`fourcc` "MJPG", "mp4v", ...)
    // and its two box files; false when the writer cannot be opened.
    bool write(const QString &videoPath, const char *fourcc) const;

private:
    void prepareBackground() const;
    void crossings(int insect, std::vector<Event> &events) const;
    void boxPassages(int insect, std::vector<Event> &events) const;

    QString sceneName;
    cv::Size frameSize;
    double rate;
    int frameCount;
    unsigned seed;
    double flicker = 0;
    std::vector<cv::Point> counting;
    std::vector<cv::Point> tracking;
    std::vector<Insect> insects;

    // Made on first use.
    mutable cv::Mat background; // CV_16SC1
    mutable std::vector<cv::Mat> noise; // CV_16SC1 layers
    mutable cv::Mat sum;
    mutable cv::Mat grey;
};
