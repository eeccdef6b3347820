#include "report/foldersummary.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "zones/runrecord.h"
#include "zones/safefile.h"
#include "zones/videofiles.h"

namespace {

const QString stampFormat = QStringLiteral("yyyy-MM-dd_hh:mm:ss");

QDateTime wallClock(QDateTime time)
{
    if (time.isValid())
        time.setTimeSpec(Qt::UTC);
    return time;
}

// Why `record` describes no recording Kestrin could have processed, or empty.
QString implausible(const RunRecord &record)
{
    const auto frameNumber = [](double frame) {
        return std::isfinite(frame) && frame >= -1 && frame <= std::numeric_limits<int>::max();
    };
    // A frame rate of 0 or less is what some videos report: no duration.
    if (!std::isfinite(record.fps))
        return QStringLiteral("its frame rate is no number");
    if (!frameNumber(record.firstFrame) || !frameNumber(record.lastFrame)
        || !(std::isfinite(record.declaredFrames)
            && record.declaredFrames <= std::numeric_limits<int>::max())
        || record.framesProcessed < 0)
        return QStringLiteral("its frame numbers lie beyond any video");
    if (record.lastFrame < record.firstFrame)
        return QStringLiteral("its last frame comes before its first");
    const double frames = std::max(record.declaredFrames, record.lastFrame + 1);
    if (record.fps > 0 && frames / record.fps > FolderSummary::kLongestRecordingSeconds)
        return QStringLiteral("it describes a recording of more than a year");
    return QString();
}

// A field of summary.csv, quoted as RFC 4180 quotes one that holds the
// separator, a quote or a line break.
QString csvField(const QString &text)
{
    static const QRegularExpression special(QStringLiteral("[;\"\r\n]"));
    if (!text.contains(special))
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

// Why a count file line is no record, or empty; `event` gets it when it is.
QString parseRecord(const QString &line, FolderSummary::Event &event, QString &stamp)
{
    // Fields after the sixth are ignored, as ResultFile does.
    const QVector<QStringRef> fields = line.splitRef(QLatin1Char(';'));
    if (fields.size() < 6)
        return QStringLiteral("%1 fields where a record has 6").arg(fields.size());
    bool ok = false;
    const double frame = fields[0].toDouble(&ok);
    if (!ok || !std::isfinite(frame))
        return QStringLiteral("its frame is no number");
    for (const int i : { 1, 2 }) {
        fields[i].toInt(&ok);
        if (!ok)
            return QStringLiteral("its position is no pair of whole numbers");
    }
    event.in = fields[3].toInt(&ok);
    bool outOk = false;
    event.out = fields[4].toInt(&outOk);
    if (!ok || !outOk || event.in < 0 || event.out < 0)
        return QStringLiteral("its in and out are no counts");
    stamp = fields[5].toString();
    return QString();
}

} // namespace

void FolderSummary::warn(const QString &text)
{
    problems.append(text);
}

void FolderSummary::readCounts(const QString &path, const QDateTime &start, Row &row)
{
    QFile file;
    QString problem;
    if (!SafeFile::openForReading(file, path, &problem)) {
        warn(QStringLiteral("%1; the video is taken as not processed").arg(problem));
        return;
    }
    file.readLine(); // header
    for (int number = 2; !file.atEnd(); ++number) {
        QByteArray bytes = file.readLine();
        if (bytes.endsWith('\n'))
            bytes.chop(1);
        if (bytes.endsWith('\r'))
            bytes.chop(1);
        Event event;
        QString stamp;
        const QString problem
            = parseRecord(QString::fromUtf8(bytes.constData(), bytes.size()), event, stamp);
        if (!problem.isEmpty()) {
            warn(QStringLiteral("%1:%2: %3; the line is left out")
                     .arg(path, QString::number(number), problem));
            continue;
        }
        // Without a start from the name the stamps are times of processing:
        // no time of activity.
        if (start.isValid())
            event.time = wallClock(QDateTime::fromString(stamp, stampFormat));
        row.in += event.in;
        row.out += event.out;
        counted.append(event);
    }
}

FolderSummary FolderSummary::read(const QString &folder)
{
    FolderSummary summary;
    summary.dir = QDir(folder).absolutePath();

    for (const QString &video : VideoFiles::listVideos(summary.dir)) {
        Row row;
        row.video = video;
        // Where the name gives none, the counts were stamped with the time
        // of processing: undated.
        row.recordingStart = wallClock(VideoFiles::namedRecordingStart(video));

        // Without complete counts, the counts and record of a run that did
        // not complete the video, if there are any.
        const bool complete = QFileInfo::exists(VideoFiles::resultFile(video));
        const QString countPath
            = complete ? VideoFiles::resultFile(video) : VideoFiles::partialResultFile(video);
        const QString recordPath
            = complete ? VideoFiles::runRecordFile(video) : VideoFiles::partialRunRecordFile(video);
        const bool hasCounts = QFileInfo(countPath).isFile();
        QFile refused;
        QString why;
        if (!hasCounts && SafeFile::present(countPath)
            && !SafeFile::openForReading(refused, countPath, &why))
            summary.warn(QStringLiteral("%1; the video is taken as not processed").arg(why));

        // A record without its count file belongs to deleted results.
        RunRecord record;
        bool hasRecord = false;
        if (hasCounts && QFileInfo::exists(recordPath)) {
            // The reader's reasons name the file already.
            QString problem;
            hasRecord = RunRecord::load(recordPath, record, &problem);
            const QString impossible = hasRecord ? implausible(record) : QString();
            if (!impossible.isEmpty())
                problem = QStringLiteral("%1: %2").arg(recordPath, impossible);
            if (!problem.isEmpty()) {
                hasRecord = false;
                record = RunRecord();
                summary.warn(QStringLiteral("%1; the run record is left out").arg(problem));
            }
        }

        if (hasCounts) {
            row.status = !complete || (hasRecord && record.status == RunRecord::Status::Partial)
                ? Status::Partial
                : Status::Processed;
            summary.readCounts(countPath, row.recordingStart, row);
        }
        if (complete && hasCounts) {
            VideoReview review;
            QString problem;
            if (review.open(video, &problem)) {
                row.review = review.tally();
                const auto keep = [&](const Result &r) {
                    summary.reviewed.append({ row.recordingStart.isValid()
                            ? wallClock(QDateTime::fromString(r.timestamp, stampFormat))
                            : QDateTime(),
                        r.in, r.out });
                };
                for (int i = 0;
                     row.review.status != VideoReview::Status::None && i < review.events().size();
                     ++i) {
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

qint64 FolderSummary::totalIn() const
{
    qint64 n = 0;
    for (const Row &row : table)
        n += row.in;
    return n;
}

qint64 FolderSummary::totalOut() const
{
    qint64 n = 0;
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

int FolderSummary::undatedVideos() const
{
    int n = 0;
    for (const Row &row : table)
        n += row.status != Status::NotProcessed && !row.recordingStart.isValid() ? 1 : 0;
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
