#pragma once

#include <optional>
#include <vector>

#include <opencv2/core.hpp>

#include "countingmethod.h"
#include "munkres.h"
#include "mvtdetector.h"

// Counts that hold against identity swaps, jitter and missed detections.
//
// Tracks: each detection is paired with the track whose predicted position
// (last position plus its recent velocity times the frames since it was
// seen) is closest, by an optimal assignment within a gate of plausible
// motion for the frame size and rate, which widens while a moving track is
// unseen but not while a hovering one is; a track that has stopped can also be
// picked up where it stopped, up to a step on from where it was last
// seen (a step and a half at a line, or farther for a blob on the line that
// no track took). Insects close together make one blob:
// a blob that holds the predictions of two tracks seen twice is split among
// them on the detector's moving pixels (each pixel to the nearest
// prediction), and a track without enough pixels of its own, or a moving one
// whose prediction nearly meets another's, moves on as predicted, instead of
// either being pulled to the blob's middle.
// A track is not looked for where its motion takes it inside the counting
// box, where nothing is detected; only the first frame it goes in is it
// looked for just inside, since its blob lags it and still shows. A track
// counts only once it has been seen in `kConfirmHits` frames, and lives on
// unseen for two to two and a half seconds, so that an insect that pauses
// keeps its track; so does a fast one's, seen only twice before it landed on
// a line.
//
// Line: a track is on one side once it is more than `sideMargin` pixels
// from the line; a crossing counts when a confirmed track goes from one side
// to the other through the line, whatever it does in the margin on the way,
// and is seen there in `kSideFrames` frames in a row or lost from sight
// (unless a track starts at once where it was: its blob jumped);
// a track moved on as predicted inside another's blob keeps its side until
// it is seen again. Two tracks that come close and part again take each
// other's side when each is far nearer where the other was heading before
// they met, judged over the first frames after they part: their insects
// swapped tracks. An insect that sat on the line
// and darts off may show first past it, out of its paused track's reach: a
// new track that, traced back, comes from where that track sat takes the
// crossing over. One that crossed with no blob of its own (fast and faint,
// or inside another's blob) counts when its new track, traced back a few
// steps, goes through the line where no confirmed track was.
// Box: counting edges are the stretches of the box's edges inside the
// tracking box. A confirmed track last seen heading into a counting edge,
// close to it, and not seen again, counts in at the frame it was last seen
// (one last seen on the edge, or near it just after a pause, is not picked
// up there again); a track
// that appears close to a counting edge and moves away from it, heading out,
// counts out at the frame it appeared; a track that heads in while a new one
// starts where it vanished and is confirmed outside did not go in, since a
// hovering insect's blob jumps about. One that comes out fast next to
// another insect can be taken by that one's track: a track that appears a
// few steps out, heading straight away from an edge, where no other track
// was, counts out where and when its motion left the edge; one that appears
// on an edge and is lost there without heading in, as a faint insect coming
// out slowly is, counts out when it appeared. Events are
// recorded when they are sure, entries up to about two and a half seconds
// after their frame, so the count file may list them a little out of frame
// order.
class RobustCounting final : public CountingMethod
{
public:
    RobustCounting();
    ~RobustCounting() override;

    Kind kind() const override { return Robust; }
    QVariantMap parameters() const override;

    void reset(const cv::Mat &mask) override;
    void startVideo(const cv::Size &frameSize, double fps) override;
    bool process(const cv::Mat &grey) override;
    QVector<Result> count(const Step &step, InsectDetect &recorder) override;
    QVector<Result> finishVideo(const Step &step, InsectDetect &recorder) override;

    const TargetList &tracked() const override { return targets; }

    static constexpr int kConfirmHits = 3;
    // Frames in a row a track must be seen moving out from an edge to count
    // out: the first steps of one that shows up in another's blob may point
    // anywhere.
    static constexpr int kLeavingFrames = 2;
    // Frames in a row a track must be seen on the other side of a line to
    // have crossed it, unless it is lost from sight there.
    static constexpr int kSideFrames = 2;
    // Moving pixels that make an insect's part of a shared blob.
    static constexpr int kMinGroupPixels = 3;
    // Steps along its motion a paused track at a line is picked up within.
    static constexpr double kLineRestartSteps = 1.5;
    // Stop gates from a paused track at a line that a blob starting on the
    // line, which nothing else took, still restarts it within.
    static constexpr double kLineFarRestartGates = 2.0;
    // Side margins from a counting edge within which a track picked up after
    // a pause, and lost again heading in, went in.
    static constexpr double kResumedInMargins = 2.0;
    // Steps back along a new track's motion that an insect darting off a
    // line may have gone unseen.
    static constexpr double kDartBackSteps = 4.0;
    // A track seen twice, at least this share of the fastest step, and
    // within this many side margins of a line when it stops, landed there:
    // it waits for its insect as a confirmed track does.
    static constexpr double kLandingSpeed = 0.5;
    static constexpr double kLandingMargins = 2.0;
    // Two tracks that part at a line swapped insects when each is nearer
    // where the other's motion from before they met led, by this share.
    static constexpr double kUntangleShare = 0.75;
    // Gates apart within which two tracks that parted are still judged, for
    // up to `coastLife` frames.
    static constexpr double kUntangleGates = 3.0;

    // The parameters one video runs with, from its frame size and rate.
    struct Settings
    {
        double maxStep = 0; // px per frame of the fastest insect
        double gate = 0; // px around a prediction
        double stopGate = 0; // px around where an unseen track was last
        int tentativeLife = 0; // missed frames a new track survives
        int confirmedLife = 0; // missed frames a confirmed track survives
        int lineLife = 0; // the same at a counting line
        int coastLife = 0; // missed frames a track is looked for along its motion
        int sharedLife = 0; // frames a track may move on inside another's blob
        int lineSharedLife = 0; // the same at a counting line
        double apart = 0; // px between predictions to split a blob between
        double stillSpeed = 0; // px per frame below which a track hovers
        double sideMargin = 0; // px from the line to be on one side
        double clearMargin = 0; // px from the line to be clear of it
        double bornMargin = 0; // px off the line where a track starting on it came from
        double edgeReach = 0; // px from a counting edge to count at it
        int unseenSteps = 0; // steps out an insect that came out unseen may show up
        static Settings forVideo(const cv::Size &frameSize, double fps);
    };
    const Settings &settings() const { return config; }

private:
    struct Track
    {
        Target *target = nullptr;
        cv::Point2d position; // last observed centroid
        cv::Point2d velocity; // px per frame
        int hits = 1;
        int missed = 0;
        int shared = 0; // frames moved on as predicted inside another's blob
        int firstFrame = 0; // in count file numbering
        int lastFrame = 0;
        cv::Point firstSeen;
        cv::Point seen; // the last centroid observed, not predicted
        int side = 0; // -1, 0 (not yet off the line) or +1
        cv::Point2d sidePosition; // where it last was off the line
        int newSideFrames = 0; // frames in a row seen on the other side
        cv::Point2d newSidePosition; // where it was first seen there
        int newSideFrame = 0;
        int clearFrame = -1; // first of the frames in a row seen clear on the other side
        int pendingCrossings = 0; // crossings made before it was confirmed
        int pendingFrame = 0;
        std::optional<cv::Point> pendingAt; // where, when known apart from where it is confirmed
        bool exitCounted = false;
        bool resumed = false; // last seen after a pause longer than coastLife
        int leaving = 0; // frames in a row it has been seen heading out
        int partner = -1; // id of the track it was last seen close to, or -1
        cv::Point2d alonePosition; // where it was last seen away from others
        cv::Point2d aloneVelocity; // and how it moved then
        int aloneFrame = -1;
        int partedFrame = -1; // the first frame apart from its partner
        bool confirmed() const { return hits >= kConfirmHits; }
    };

    void associate();
    void solveByGroups(size_t rows, size_t cols);
    // Seen twice, fast, and stopped close to a line: see kLandingSpeed.
    bool landedOnLine(const Track &track) const;
    // How far `at` lies from where a paused track may start again.
    static double fromStop(const Track &track, const cv::Point2d &at, double restart);
    // Gives a paused track at a line the blob on it that nothing took.
    void restartFarther(double restart);
    // Follows the tracks hidden in a blob on their own parts of it.
    void splitBlob(const Target &blob);
    // Moving, and seen recently enough to be followed inside another's blob.
    // Seen twice is enough: an insect met by another just after it showed
    // up would otherwise lose its track to their blob's middle.
    bool canHide(const Track &track) const;
    void dropTrack(size_t index);
    void findCountingEdges();
    // Gives two tracks that part at a line each other's side when they
    // swapped insects where they met.
    void untangle(int frame);
    void countLine(const Step &step, const cv::Point &a, const cv::Point &b, InsectDetect &recorder,
        QVector<Result> &events);
    void countBox(const Step &step, const std::vector<cv::Point> &edges, InsectDetect &recorder,
        QVector<Result> &events, bool videoEnds);
    // A track new off the line that an insect sitting on it started by
    // darting off, or one that has kept to the line since it took the insect
    // over there, crossed from its paused track's side, whose track goes.
    bool dartedOff(const Step &step, Track &track, int side, const cv::Point &a, const cv::Point &b,
        InsectDetect &recorder, QVector<Result> &events);
    // A new track off the line, heading away from it, that traced back a few
    // steps along its motion went through the line where no confirmed track was.
    void crossedUnseen(Track &track, int side, const cv::Point &a, const cv::Point &b);
    // Lost from sight just after its blob's centre went over the line, it
    // stayed where it was if a track has started there since, as one does
    // when a hovering insect's blob jumps and its track moves on without it.
    bool jumpedOver(const Track &track, const cv::Point2d &a, const cv::Point2d &b) const;
    // Where it went through a counting edge, when its motion took it there.
    bool headsIntoEdge(
        const Track &track, const std::vector<cv::Point> &edges, cv::Point *where) const;
    bool leavesEdge(const Track &track, const std::vector<cv::Point> &edges) const;
    // Appeared on an edge, and gone from there without heading in.
    bool fadedAtEdge(const Track &track, const std::vector<cv::Point> &edges) const;
    // Another track took up its insect where it vanished and followed it on
    // outside the box.
    bool followedOn(const Track &track) const;
    // Where and how many frames before it appeared it came out, for a track
    // that appeared a few steps out from an edge, heading away.
    bool cameOutUnseen(const Track &track, const std::vector<cv::Point> &edges, cv::Point *where,
        int *frames) const;
    Result record(const Step &step, InsectDetect &recorder, int frame, const cv::Point &at, int in,
        int out) const;

    // One hidden track's share of a blob.
    struct Group
    {
        int track = -1;
        cv::Point2d prediction;
        double reach2 = 0; // squared px
        cv::Rect box; // of its pixels
        int pixels = 0;
    };

    MvtDetector detector;
    Munkres munkres;
    Settings config;
    std::vector<Track> tracks;
    TargetList targets; // the tracks' records, in the same order
    TargetList detected;
    cv::Mat costs;
    cv::Mat assignment;
    std::vector<int> trackOf; // per detection, the track it joins or -1
    std::vector<char> matched; // per track: 0, seen or hidden
    std::vector<cv::Point2d> predicted; // per track
    std::vector<int> parent; // union-find over detections, then tracks
    std::vector<std::vector<int>> groupRows;
    std::vector<std::vector<int>> groupCols;
    std::vector<Group> groups;
    std::vector<size_t> gone; // tracks that end this frame
    std::vector<size_t> unseenCrossers; // new tracks to judge for a crossing made unseen
    std::vector<size_t> seenNow; // confirmed tracks seen in a blob of their own this frame
    std::vector<int> closeTo; // per track, the one seen nearest to it within a gate, or -1
    enum Counting { None, Line, Box };
    Counting counting = None;
    std::vector<cv::Point> countingArea; // as the run's zones give them
    std::vector<cv::Point> trackingArea;
    std::vector<cv::Point> edges; // pairs of ends: the box's counting stretches
    std::vector<cv::Point2f> box; // the counting box as drawn
    int firstCounted = -1; // the video's first frame counted
};
