#pragma once

#include <vector>

#include <opencv2/core/types.hpp>

#include <QDateTime>
#include <QJsonObject>
#include <QString>

// How one count file was made: exportCSV/<name>_run.json, written when the
// video's processing ends (completely or not) and replacing the record of
// any earlier run. Frame numbers are those of the count file.
class RunRecord
{
public:
    enum class Status { Complete, Partial };

    QString version; // of the program that processed the video
    QString video; // the video's file name
    QString method; // counting method, "classic" so far
    QJsonObject parameters; // the method's parameters by name
    std::vector<cv::Point> countingBox;
    std::vector<cv::Point> trackingBox;
    int frameWidth = 0;
    int frameHeight = 0;
    double fps = 0;
    double declaredFrames = 0; // as the video reports it
    double firstFrame = -1; // -1: no frame processed
    double lastFrame = -1;
    int framesProcessed = 0;
    int in = 0;
    int out = 0;
    QDateTime started; // local time; written with its offset from UTC
    QDateTime ended;
    Status status = Status::Complete;
    QString reason; // why a partial run stopped
    // Written by the review of the counts; a run's own record has none.
    QString reviewStatus; // "partial" or "complete"; empty: not reviewed
    int reviewedIn = 0; // confirmed and added events
    int reviewedOut = 0;

    QJsonObject toJson() const;
    // False with `error` set when `json` is not a run record.
    static bool fromJson(const QJsonObject &json, RunRecord &record, QString *error);

    // Writes the record complete or not at all (SafeFile::save); false with
    // the file and the system's reason in `error`.
    bool save(const QString &path, QString *error) const;
    // The file's bytes.
    QByteArray bytes() const;
    // False with `error` set for a missing, unreadable or malformed file, or
    // one that is not a regular file.
    static bool load(const QString &path, RunRecord &record, QString *error);

    // "2026-12-08T10:15:30+01:00"
    static QString formatTime(const QDateTime &time);

    bool operator==(const RunRecord &other) const;
    bool operator!=(const RunRecord &other) const { return !(*this == other); }
};
