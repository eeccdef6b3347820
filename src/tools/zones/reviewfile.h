#pragma once

#include <optional>

#include <QByteArray>
#include <QString>
#include <QVector>

#include "imgproc/result.h"

// The review of a video's counts, exportCSV/<base>_review.csv:
//
//   # counts sha256=<the count file's SHA-256, 64 lower-case hex digits>
//   Frame;X;Y;In;Out;Timestamp;Decision
//   90;1754;931;1;0;2015-06-12_09:30:01;confirmed
//
// One line per decided event of the count file (confirmed or rejected) and
// per event the user added (added), the fields as the count file has them.
// The first line binds the review to the counts it was made on: a new run
// gives another checksum. Written complete or not at all.
class ReviewFile
{
public:
    enum class Decision { Unreviewed, Confirmed, Rejected, Added };

    struct Entry
    {
        Result event;
        Decision decision = Decision::Confirmed;
    };

    QByteArray countsSha256; // lower-case hex
    QVector<Entry> entries;

    QByteArray toBytes() const;
    // False with `error` set ("line 3: ...") when `bytes` is no review file.
    static bool fromBytes(const QByteArray &bytes, ReviewFile &review, QString *error);

    // Refuses a path that is a symbolic link or no regular file; false with
    // the file and the reason in `error`.
    bool save(const QString &path, QString *error) const;
    // Only a regular file is read; false with `error` for a missing,
    // unreadable or malformed one.
    static bool load(const QString &path, ReviewFile &review, QString *error);

    // The SHA-256 of a regular file's bytes as lower-case hex.
    static bool sha256OfFile(const QString &path, QByteArray &hex, QString *error);

    static QString decisionName(Decision decision); // "confirmed", "rejected", "added"
    static std::optional<Decision> decisionFromName(const QString &name);
};
