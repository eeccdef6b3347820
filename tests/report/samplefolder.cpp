#include "samplefolder.h"

#include <QByteArray>
#include <QDateTime>
#include <QStringList>

#include "testfiles.h"
#include "version.h"
#include "zones/runrecord.h"
#include "zones/videofiles.h"

namespace samplefolder {

namespace {

const QByteArray header("Frame;X;Y;In;Out;Timestamp\n");

bool video(const QString &dir, const QString &name, const QByteArray &counts)
{
    const QString path = dir + QLatin1Char('/') + name;
    return testfiles::write(path, "not a video")
        && (counts.isEmpty() || testfiles::write(VideoFiles::resultFile(path), header + counts));
}

// An hour at 90 frames per second; `processed` frames from frame 91 on.
bool record(const QString &dir, const QString &name, int processed, int in, int out,
    RunRecord::Status status)
{
    RunRecord r;
    r.version = kestrin::version();
    r.video = name;
    r.method = QStringLiteral("classic");
    r.countingBox = { { 100, 50 }, { 100, 150 } };
    r.trackingBox = { { 5, 5 }, { 315, 5 }, { 315, 235 }, { 5, 5 } };
    r.frameWidth = 320;
    r.frameHeight = 240;
    r.fps = 90;
    r.declaredFrames = 324000;
    r.firstFrame = 90;
    r.lastFrame = 90 + processed - 1;
    r.framesProcessed = processed;
    r.in = in;
    r.out = out;
    r.started = QDateTime(QDate(2015, 6, 13), QTime(8, 0));
    r.ended = r.started.addSecs(600);
    r.status = status;
    if (status == RunRecord::Status::Partial)
        r.reason = QStringLiteral("cancelled");
    return r.save(VideoFiles::runRecordFile(dir + QLatin1Char('/') + name), nullptr);
}

} // namespace

bool make(const QString &dir)
{
    // The stamp "garbage" is no time: that event is undated. The undated
    // video's stamps are times of processing, undated as well.
    return video(dir, first,
               "8190;10;20;1;0;2015-06-12_09:31:10\n"
               "82890;11;21;0;1;2015-06-12_09:45:00\n"
               "244890;12;22;1;0;2015-06-12_10:15:00\n"
               "250000;13;23;0;1;garbage\n")
        && record(dir, first, 323910, 2, 2, RunRecord::Status::Complete)
        && video(dir, second,
            "5490;10;20;1;0;2015-06-12_10:31:00\n"
            "10890;10;20;1;0;2015-06-12_10:32:00\n"
            "108090;10;20;0;1;2015-06-12_10:50:00\n")
        && record(dir, second, 323910, 2, 1, RunRecord::Status::Complete)
        && video(dir, partial, "5490;10;20;1;0;2015-06-12_12:31:00\n")
        && record(dir, partial, 108000, 1, 0, RunRecord::Status::Partial)
        && video(dir, unprocessed, QByteArray())
        && video(dir, undated,
            "100;1;2;1;0;2026-12-08_00:00:00\n"
            "200;1;2;0;1;2026-12-08_00:00:01\n"
            "300;1;2;0;1;2026-12-08_00:00:02\n");
}

} // namespace samplefolder
