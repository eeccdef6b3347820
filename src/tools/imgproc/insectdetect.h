#pragma once

#include <functional>
#include <vector>

#include <opencv2/core/types.hpp>

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVector>

#include "imgproc/result.h"
#include "imgproc/target.h"

// Turns the live tracks into counting events against the counting segments of
// the zone model. Two segment points form a counting line: every step of a
// track that crosses it counts (in 1, out 1). Three or more are taken two by
// two as edges of a counting box: a track that vanishes just after heading into
// an edge counts in, one that shows up just after leaving an edge counts out.
// Every event is handed at once to the sink its owner installs (the run's
// appends it to the count file) and returned.
class InsectDetect final : public QObject
{
    Q_OBJECT

public:
    explicit InsectDetect(QObject *parent = nullptr);

    // Takes one recorded event; returns why it could not be kept (the file
    // and the system's reason), empty when it was.
    using EventSink = std::function<QString(const Result &event)>;

    // Clears the duplicate check of the box counter and the write error;
    // called per video.
    void Reset();

    // Where events go as they are recorded; without a sink they are only
    // returned.
    void setEventSink(EventSink sink) { eventSink = std::move(sink); }
    // The first failure of the sink since Reset. Events found after it are
    // still returned.
    const QString &writeError() const { return firstWriteError; }

    // On the zone model's counting segment list (AreaContour::getAreaSegments).
    // frame: the index handed on for this step; fps: whole frames per second,
    // 0 adding no time to startTime. Events come in the order of the tracks.
    QVector<Result> Detect(const TargetList &tracks, const std::vector<cv::Point> &segments,
        int frame, int fps, const QDateTime &startTime);
    QVector<Result> DetectLine(const TargetList &tracks, const std::vector<cv::Point> &segments,
        int frame, int fps, const QDateTime &startTime);
    QVector<Result> DetectArea(const TargetList &tracks, const std::vector<cv::Point> &segments,
        int frame, int fps, const QDateTime &startTime);

    // Segment p1-q1 meets segment p2-q2; touching end points and collinear
    // overlaps count.
    static bool Intersect(
        const cv::Point &p1, const cv::Point &q1, const cv::Point &p2, const cv::Point &q2);
    // 0 collinear, 1 clockwise, 2 counter-clockwise (y downwards).
    static int Orientation(const cv::Point &p, const cv::Point &q, const cv::Point &r);
    // q lies within the bounding box of p and r, bounds included.
    static bool OnSegment(const cv::Point &p, const cv::Point &q, const cv::Point &r);

    // "yyyy-MM-dd_hh:mm:ss" of startTime plus frame / fps whole seconds.
    static QString eventTime(const QDateTime &startTime, int frame, int fps);

    int getLastX() const { return lastX; }
    int getLastY() const { return lastY; }
    int getLastFrame() const { return lastFrame; }

    // Hands one event to the sink and returns it; every counting method
    // records its events through here.
    Result record(
        int frame, const cv::Point &at, int in, int out, int fps, const QDateTime &startTime);

signals:
    // Declared for the main window's slot of the same name; events are
    // reported through the return value and the sink instead.
    void Add_Insect_detected(int frame, int x, int y, int in, int out);

private:
    // The last box event, against which a second one is a duplicate.
    int lastX = 0;
    int lastY = 0;
    int lastFrame = 0;

    EventSink eventSink;
    QString firstWriteError;
};
