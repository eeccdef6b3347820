#pragma once

#include <optional>

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

#include "report/reviewsample.h"
#include "zones/videoreview.h"

// What the count files and run records of a folder of videos say, read
// without processing anything again: one row per video in listing order,
// every counting event with its time, and the recorded spans.
//
// Times are wall-clock times as the files write them, held with Qt::UTC so
// that arithmetic on them ignores daylight-saving changes. A count file line
// that is no record, and a run record that describes no possible recording,
// are left out with a warning naming the file (and line).
class FolderSummary
{
public:
    enum class Status { Processed, Partial, NotProcessed };

    struct Row
    {
        QString video; // full path
        // From the name, as its counts were stamped (video_yyyyMMdd_hhmm_NN);
        // invalid when the name gave none and they carry times of processing.
        QDateTime recordingStart;
        double durationSeconds = -1; // from the run record; -1: unknown
        int framesProcessed = -1; // -1: unknown (no run record)
        qint64 in = 0;
        qint64 out = 0;
        Status status = Status::NotProcessed;
        QString method; // from the run record; empty without one
        VideoReview::Tally review; // of the review file bound to the count file
    };

    struct Event
    {
        QDateTime time; // invalid: undated
        int in = 0;
        int out = 0;
    };

    // A stretch of recording that was counted.
    struct Span
    {
        QDateTime start;
        QDateTime end;
    };

    static FolderSummary read(const QString &folder);

    const QString &folder() const { return dir; }
    const QVector<Row> &rows() const { return table; }
    const QVector<Event> &events() const { return counted; }
    const QVector<Span> &spans() const { return recorded; } // by start

    // Videos with a count file.
    int countFiles() const;
    qint64 totalIn() const;
    qint64 totalOut() const;
    // Of the dated events; invalid when there is none.
    QDateTime firstEvent() const;
    QDateTime lastEvent() const;
    int undatedEvents() const;
    // Counted videos whose name carries no recording start.
    int undatedVideos() const;
    // "file:line: what" for each line and record left out.
    const QStringList &warnings() const { return problems; }

    static QString statusName(Status status);
    // "2015-06-12 09:30:00"; empty for an invalid time.
    static QString formatTime(const QDateTime &time);
    // "h:mm:ss"; empty for an unknown duration.
    static QString formatDuration(double seconds);

    // summary.csv: a header, then one ";"-separated line per row, fields
    // quoted as RFC 4180 quotes them.
    QByteArray summaryCsv() const;

    struct ReviewTotals
    {
        int complete = 0; // videos
        int partial = 0;
        qint64 in = 0; // reviewed in and out over the reviewed videos
        qint64 out = 0;
    };
    ReviewTotals reviewTotals() const;

    // The same folder with only the reviewed events (confirmed and added),
    // for the activity of reviewed counts.
    FolderSummary reviewedOnly() const;
    // Of the folder's review sample, when it has one.
    const std::optional<ReviewSample::Precision> &samplePrecision() const { return precision; }
    const ReviewSample &sample() const { return drawn; }
    // The longest recording a run record may describe.
    static constexpr double kLongestRecordingSeconds = 366.0 * 24 * 3600;

private:
    QString dir;
    QVector<Row> table;
    QVector<Event> counted;
    QVector<Span> recorded;
    QVector<Event> reviewed;
    ReviewSample drawn;
    std::optional<ReviewSample::Precision> precision;
    QStringList problems;

    void readCounts(const QString &path, const QDateTime &start, Row &row);
    void warn(const QString &text);
};
