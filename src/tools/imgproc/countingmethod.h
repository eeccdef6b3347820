#pragma once

#include <memory>
#include <vector>

#include <opencv2/core.hpp>

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <QVector>

#include "imgproc/result.h"
#include "imgproc/target.h"

class InsectDetect;

// How detections become tracks and tracks become counts. ProcessRun drives
// one method per run; the window and kestrin-batch only name it:
//
//   method->reset(mask);                         // start of a run
//   method->startVideo(frameSize, fps);          // each video of the run
//   for each grey frame:
//       if (method->process(grey))
//           events = method->count(step, recorder);
//       overlay and trajectory from method->tracked()
//   events = method->finishVideo(step, recorder); // end of each video
//
// Every event goes through the recorder (the run's InsectDetect, whose sink
// appends it to the count file), the same way for every method.
class CountingMethod
{
public:
    enum Kind { Classic, Robust };

    // What a method needs to count one processed frame.
    struct Step
    {
        // The zone model's boxes as points: the counting box (two points:
        // a line), its counting segments, and the tracking box.
        std::vector<cv::Point> countingBox; // AreaContour::getArea
        std::vector<cv::Point> countingSegments; // AreaContour::getAreaSegments
        std::vector<cv::Point> trackingBox; // AreaContour::getMask
        int frame = 0; // the number the count file gives this step
        int fps = 0; // whole frames per second, 0 when unknown
        QDateTime startTime;
    };

    virtual ~CountingMethod();

    static std::unique_ptr<CountingMethod> create(Kind kind);
    // "classic" or "robust", as the command line and the settings write it.
    static QString kindName(Kind kind);
    // False when `name` names no method.
    static bool kindFromName(const QString &name, Kind *kind);
    static QStringList kindNames();

    virtual Kind kind() const = 0;
    QString name() const { return kindName(kind()); }
    // The settings the method runs with, by name, for run records.
    virtual QVariantMap parameters() const = 0;

    // Drops every track, restarts the ids and sets the detection mask; the
    // next frame only becomes the detector's reference.
    virtual void reset(const cv::Mat &mask) = 0;
    // A video of the run starts; tracks carry over from the previous one.
    virtual void startVideo(const cv::Size &frameSize, double fps) = 0;
    // One grey frame: detection and tracking. False, with nothing changed,
    // for a frame the detector refuses.
    virtual bool process(const cv::Mat &grey) = 0;
    // This frame's events, each recorded through `recorder`.
    virtual QVector<Result> count(const Step &step, InsectDetect &recorder) = 0;
    // Events still pending when a video ends, recorded the same way.
    virtual QVector<Result> finishVideo(const Step &step, InsectDetect &recorder) = 0;

    // The live tracks, for the overlay and the trajectory image.
    virtual const TargetList &tracked() const = 0;

protected:
    CountingMethod() = default;
    CountingMethod(const CountingMethod &) = delete;
    CountingMethod &operator=(const CountingMethod &) = delete;
};
