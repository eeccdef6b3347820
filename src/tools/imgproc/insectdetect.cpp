#include "imgproc/insectdetect.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "logging.h"

namespace {

// The box counter takes a point with a zero coordinate for a missing one and
// skips the edge it ends; kept so that the box counter's counts stay as they
// have always been.
bool boxPointUsable(const cv::Point &p)
{
    return p.x != 0 && p.y != 0;
}

} // namespace

InsectDetect::InsectDetect(QObject *parent)
    : QObject(parent)
{
}

void InsectDetect::Reset()
{
    lastX = 0;
    lastY = 0;
    lastFrame = 0;
    firstWriteError.clear();
}

QVector<Result> InsectDetect::Detect(const TargetList &tracks,
    const std::vector<cv::Point> &segments, int frame, int fps, const QDateTime &startTime)
{
    if (segments.size() == 2)
        return DetectLine(tracks, segments, frame, fps, startTime);
    if (segments.size() >= 3)
        return DetectArea(tracks, segments, frame, fps, startTime);
    return {};
}

QVector<Result> InsectDetect::DetectLine(const TargetList &tracks,
    const std::vector<cv::Point> &segments, int frame, int fps, const QDateTime &startTime)
{
    QVector<Result> events;
    if (segments.size() < 2)
        return events;
    const cv::Point a = segments[0];
    const cv::Point b = segments[1];

    for (const Target *t : tracks) {
        // A track not yet updated has made no step.
        if (t == nullptr || t->age != 0 || !t->lastKnown)
            continue;
        qCDebug(lcImgproc, "targets input id = %d  seg = [%d@%d][%d@%d] age = %d", t->id, t->last.x,
            t->last.y, t->centroid.x, t->centroid.y, t->age);
        qCDebug(lcImgproc, "area seg = [%d@%d][%d@%d]", a.x, a.y, b.x, b.y);
        // A step that starts on the line leaves it: the step that ended there
        // has already been counted.
        if (Orientation(a, b, t->last) == 0 && OnSegment(a, t->last, b))
            continue;
        if (Intersect(t->last, t->centroid, a, b))
            events.append(record(frame, t->centroid, 1, 1, fps, startTime));
    }
    return events;
}

QVector<Result> InsectDetect::DetectArea(const TargetList &tracks,
    const std::vector<cv::Point> &segments, int frame, int fps, const QDateTime &startTime)
{
    QVector<Result> events;
    qCDebug(lcImgproc, "targets.size = %d", static_cast<int>(tracks.size()));
    for (const Target *t : tracks) {
        if (t == nullptr)
            continue;
        qCDebug(lcImgproc,
            "targets id = %d  centroid=[%d@%d] last=[%d@%d] origine=[%d@%d] age = %d "
            "agemovement = %d",
            t->id, t->centroid.x, t->centroid.y, t->last.x, t->last.y, t->origine.x, t->origine.y,
            t->age, t->agemovement);
        if (!t->lastKnown)
            continue;

        cv::Point p;
        cv::Point q;
        int in = 0;
        int out = 0;
        if (t->age == 1) {
            // Vanished: its last step and four more of the same length.
            p = t->last;
            q = 5 * t->centroid - 4 * t->last;
            in = 1;
        } else if (t->age == 0 && t->agemovement == 2) {
            // Just appeared: three steps back along its motion.
            p = t->last;
            q = 4 * t->last - 3 * t->centroid;
            out = 1;
        } else {
            continue;
        }

        for (size_t k = 0; k + 1 < segments.size(); k += 2) {
            const cv::Point &s1 = segments[k];
            const cv::Point &s2 = segments[k + 1];
            if (!boxPointUsable(s1) || !boxPointUsable(s2))
                continue;
            if (!Intersect(p, q, s1, s2))
                continue;
            const bool duplicate = t->centroid.x == lastX && t->centroid.y == lastY
                && static_cast<std::int64_t>(frame) <= static_cast<std::int64_t>(lastFrame) + 4;
            if (!duplicate) {
                events.append(record(frame, t->centroid, in, out, fps, startTime));
                lastX = t->centroid.x;
                lastY = t->centroid.y;
                lastFrame = frame;
            }
            break;
        }
    }
    return events;
}

bool InsectDetect::Intersect(
    const cv::Point &p1, const cv::Point &q1, const cv::Point &p2, const cv::Point &q2)
{
    const int o1 = Orientation(p1, q1, p2);
    const int o2 = Orientation(p1, q1, q2);
    const int o3 = Orientation(p2, q2, p1);
    const int o4 = Orientation(p2, q2, q1);
    if (o1 != o2 && o3 != o4)
        return true;
    return (o1 == 0 && OnSegment(p1, p2, q1)) || (o2 == 0 && OnSegment(p1, q2, q1))
        || (o3 == 0 && OnSegment(p2, p1, q2)) || (o4 == 0 && OnSegment(p2, q1, q2));
}

int InsectDetect::Orientation(const cv::Point &p, const cv::Point &q, const cv::Point &r)
{
    // Differences of 32-bit coordinates need 33 bits and their products 66:
    // even 64-bit products overflow for points near the ends of the range.
    __extension__ using Wide = __int128;
    const Wide v = Wide { std::int64_t { q.y } - p.y } * (std::int64_t { r.x } - q.x)
        - Wide { std::int64_t { q.x } - p.x } * (std::int64_t { r.y } - q.y);
    if (v == 0)
        return 0;
    return v > 0 ? 1 : 2;
}

bool InsectDetect::OnSegment(const cv::Point &p, const cv::Point &q, const cv::Point &r)
{
    return q.x <= std::max(p.x, r.x) && q.x >= std::min(p.x, r.x) && q.y <= std::max(p.y, r.y)
        && q.y >= std::min(p.y, r.y);
}

QString InsectDetect::eventTime(const QDateTime &startTime, int frame, int fps)
{
    // A video that reports no frame rate gets the start time itself.
    const qint64 seconds = fps > 0 ? frame / fps : 0;
    return startTime.addSecs(seconds).toString(QStringLiteral("yyyy-MM-dd_hh:mm:ss"));
}

Result InsectDetect::record(
    int frame, const cv::Point &at, int in, int out, int fps, const QDateTime &startTime)
{
    Result event;
    event.frame = frame;
    event.x = at.x;
    event.y = at.y;
    event.in = in;
    event.out = out;
    event.timestamp = eventTime(startTime, frame, fps);
    if (eventSink) {
        const QString why = eventSink(event);
        if (!why.isEmpty() && firstWriteError.isEmpty())
            firstWriteError = why;
    }
    return event;
}
