#include "foldersummary.h"

#include <algorithm>
#include <cmath>

#include <QDir>
#include <QFileInfo>

#include "logging.h"
#include "resultfile.h"
#include "runrecord.h"
#include "videofiles.h"

namespace {

QDateTime wallClock(QDateTime time)
{
    if (time.isValid())
        time.setTimeSpec(Qt::UTC);
    return time;
}

// A field of summary.csv: quoted when it holds the separator or a quote.
QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('"'))
        && !text.contains(QLatin1Char('\n')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// "in;out;status", the counts empty for a video without a review.
QString reviewedFields(const VideoReview::Tally &review)
{
    const bool none = review.status == VideoReview::Status::None;
    return (none ? QString() : QString::number(review.in)) + QLatin1Char(';')
        + (none ? QString() : QString::number(review.out)) + QLatin1Char(';')
        + VideoReview::statusName(review.status);
}

} // namespace

FolderSummary FolderSummary::read(const QString &folder)
{
    FolderSummary summary;
    summary.dir = QDir(folder).absolutePath();
    const QString timeFormat = QStringLiteral("yyyy-MM-dd_hh:mm:ss");

    for (const QString &video : VideoFiles::listVideos(summary.dir)) {
        Row row;
        row.video = video;
        row.recordingStart = wallClock(VideoFiles::recordingStart(video));

        // Without complete counts, the counts and record of a run that did
        // not complete the video, if there are any.
        const bool complete = QFileInfo::exists(VideoFiles::resultFile(video));
        const QString countPath
            = complete ? VideoFiles::resultFile(video) : VideoFiles::partialResultFile(video);
        const QString recordPath
            = complete ? VideoFiles::runRecordFile(video) : VideoFiles::partialRunRecordFile(video);

        RunRecord record;
        bool hasRecord = false;
        if (QFileInfo::exists(recordPath)) {
            QString problem;
            hasRecord = RunRecord::load(recordPath, record, &problem);
            if (!hasRecord)
                qCWarning(lcZones).noquote() << "Ignoring the run record" << problem;
        }

        ResultFile counts;
        const bool hasCounts
            = QFileInfo::exists(countPath) && counts.openFile(countPath, ResultFile::Read) == 1;
        // A record without its count file belongs to deleted results.
        if (!hasCounts)
            hasRecord = false;

        if (hasCounts) {
            row.status = !complete || (hasRecord && record.status == RunRecord::Status::Partial)
                ? Status::Partial
                : Status::Processed;
            double frame = 0;
            int x = 0;
            int y = 0;
            Event event;
            QString stamp;
            while (counts.readRecord(frame, x, y, event.in, event.out, stamp) == 1) {
                // A name without a recording date had its counts stamped
                // with the time of processing: no time of activity.
                event.time = row.recordingStart.isValid()
                    ? wallClock(QDateTime::fromString(stamp, timeFormat))
                    : QDateTime();
                row.in += event.in;
                row.out += event.out;
                summary.counted.append(event);
            }
            counts.close();
        }
        if (complete && hasCounts) {
            VideoReview review;
            QString problem;
            if (review.open(video, &problem)) {
                row.review = review.tally();
                const auto keep = [&](const Result &r) {
                    summary.reviewed.append({ row.recordingStart.isValid()
                            ? wallClock(QDateTime::fromString(r.timestamp, timeFormat))
                            : QDateTime(),
                        r.in, r.out });
                };
                for (int i = 0; row.review.status != VideoReview::Status::None
                     && i < review.events().size(); ++i) {
                    if (review.decision(i) == ReviewFile::Decision::Confirmed)
                        keep(review.events()[i]);
                }
                for (const Result &r : review.added())
                    keep(r);
            }
        }

        if (hasRecord) {
            row.method = record.method;
            row.framesProcessed = record.framesProcessed;
            if (record.fps > 0 && record.declaredFrames > 0)
                row.durationSeconds = record.declaredFrames / record.fps;
        }

        if (row.status != Status::NotProcessed && row.recordingStart.isValid()) {
            Span span { row.recordingStart, QDateTime() };
            if (row.status == Status::Partial && record.fps > 0 && record.lastFrame >= 0) {
                span.start = row.recordingStart.addSecs(
                    static_cast<qint64>(record.firstFrame / record.fps));
                span.end = row.recordingStart.addSecs(
                    static_cast<qint64>(std::ceil((record.lastFrame + 1) / record.fps)));
            } else if (row.durationSeconds >= 0) {
                span.end = row.recordingStart.addSecs(
                    static_cast<qint64>(std::ceil(row.durationSeconds)));
            }
            if (span.end.isValid())
                summary.recorded.append(span);
        }
        summary.table.append(row);
    }
    std::sort(summary.recorded.begin(), summary.recorded.end(),
        [](const Span &a, const Span &b) { return a.start < b.start; });
    QString problem;
    if (ReviewSample::load(summary.dir, summary.drawn, &problem))
        summary.precision = summary.drawn.precision(summary.dir);
    return summary;
}

int FolderSummary::countFiles() const
{
    int n = 0;
    for (const Row &row : table)
        n += row.status != Status::NotProcessed ? 1 : 0;
    return n;
}

int FolderSummary::totalIn() const
{
    int n = 0;
    for (const Row &row : table)
        n += row.in;
    return n;
}

int FolderSummary::totalOut() const
{
    int n = 0;
    for (const Row &row : table)
        n += row.out;
    return n;
}

QDateTime FolderSummary::firstEvent() const
{
    QDateTime first;
    for (const Event &e : counted) {
        if (e.time.isValid() && (!first.isValid() || e.time < first))
            first = e.time;
    }
    return first;
}

QDateTime FolderSummary::lastEvent() const
{
    QDateTime last;
    for (const Event &e : counted) {
        if (e.time.isValid() && (!last.isValid() || e.time > last))
            last = e.time;
    }
    return last;
}

int FolderSummary::undatedEvents() const
{
    int n = 0;
    for (const Event &e : counted)
        n += e.time.isValid() ? 0 : 1;
    return n;
}

QString FolderSummary::statusName(Status status)
{
    switch (status) {
    case Status::Processed:
        return QStringLiteral("processed");
    case Status::Partial:
        return QStringLiteral("partial");
    case Status::NotProcessed:
        break;
    }
    return QStringLiteral("not processed");
}

QString FolderSummary::formatTime(const QDateTime &time)
{
    return time.isValid() ? time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) : QString();
}

QString FolderSummary::formatDuration(double seconds)
{
    if (!(seconds >= 0) || !std::isfinite(seconds))
        return QString();
    const qint64 whole = static_cast<qint64>(std::llround(seconds));
    return QStringLiteral("%1:%2:%3")
        .arg(whole / 3600)
        .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(whole % 60, 2, 10, QLatin1Char('0'));
}

QByteArray FolderSummary::summaryCsv() const
{
    QString text
        = QStringLiteral("Video;Recording start;Duration;Frames processed;In;Out;Status;Method;"
                         "Reviewed in;Reviewed out;Review status\n");
    for (const Row &row : table) {
        text += csvField(QFileInfo(row.video).fileName()) + QLatin1Char(';')
            + formatTime(row.recordingStart) + QLatin1Char(';')
            + formatDuration(row.durationSeconds) + QLatin1Char(';')
            + (row.framesProcessed >= 0 ? QString::number(row.framesProcessed) : QString())
            + QLatin1Char(';')
            + (row.status != Status::NotProcessed ? QString::number(row.in) : QString())
            + QLatin1Char(';')
            + (row.status != Status::NotProcessed ? QString::number(row.out) : QString())
            + QLatin1Char(';') + statusName(row.status) + QLatin1Char(';') + csvField(row.method)
            + QLatin1Char(';') + reviewedFields(row.review) + QLatin1Char('\n');
    }
    return text.toUtf8();
}

FolderSummary FolderSummary::reviewedOnly() const
{
    FolderSummary only = *this;
    only.counted = reviewed;
    return only;
}

FolderSummary::ReviewTotals FolderSummary::reviewTotals() const
{
    ReviewTotals totals;
    for (const Row &row : table) {
        totals.complete += row.review.status == VideoReview::Status::Complete ? 1 : 0;
        totals.partial += row.review.status == VideoReview::Status::Partial ? 1 : 0;
        totals.in += row.review.in;
        totals.out += row.review.out;
    }
    return totals;
}
