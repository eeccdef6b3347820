#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>

#include "report/foldersummary.h"

// In and out counts of a folder per time bin, over the range its dated
// events and counted recordings cover: bins aligned on the clock (10
// minutes, hours, days from midnight), empty bins inside the range kept with
// 0, undated events counted apart. At most kMaxBins bins: a longer range is
// cut to the stretch of that many bins holding the most events, and the
// events beyond it are counted apart as well.
class ActivityBins
{
public:
    enum class Width { TenMinutes, Hour, Day };

    // Nearly two years of 10-minute bins, 11 years of hours, 270 of days.
    static constexpr qint64 kMaxBins = 100000;

    struct Bin
    {
        QDateTime start; // wall clock, Qt::UTC as in FolderSummary
        qint64 in = 0;
        qint64 out = 0;
    };

    static ActivityBins compute(const FolderSummary &summary, Width width);

    // "10m", "1h", "1d"; false for anything else.
    static bool parseWidth(const QString &text, Width &width);
    static QString widthName(Width width);
    static qint64 seconds(Width width);
    // The start of the bin holding `time`.
    static QDateTime binStart(const QDateTime &time, Width width);

    Width width() const { return binWidth; }
    const QVector<Bin> &bins() const { return list; }
    qint64 undatedIn() const { return undatedIns; }
    qint64 undatedOut() const { return undatedOuts; }
    int undatedEvents() const { return undatedCount; }
    // Dated events beyond a range cut to kMaxBins bins.
    qint64 outsideIn() const { return outsideIns; }
    qint64 outsideOut() const { return outsideOuts; }
    int outsideEvents() const { return outsideCount; }
    // Says where the range was cut; empty when it was not.
    const QString &cutWarning() const { return cut; }
    // The largest in or out of one bin.
    qint64 peak() const;

    // activity.csv: "Start;End;In;Out", one line per bin, then the undated
    // events on a line of their own, and those beyond a cut range on another.
    QByteArray csv() const;

private:
    Width binWidth = Width::Hour;
    QVector<Bin> list;
    qint64 undatedIns = 0;
    qint64 undatedOuts = 0;
    int undatedCount = 0;
    qint64 outsideIns = 0;
    qint64 outsideOuts = 0;
    int outsideCount = 0;
    QString cut;
};
