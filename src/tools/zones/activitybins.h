#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>

#include "foldersummary.h"

// In and out counts of a folder per time bin, over the range its dated
// events and counted recordings cover: bins aligned on the clock (10
// minutes, hours, days from midnight), empty bins inside the range kept with
// 0, undated events counted apart.
class ActivityBins
{
public:
    enum class Width { TenMinutes, Hour, Day };

    struct Bin
    {
        QDateTime start; // wall clock, Qt::UTC as in FolderSummary
        int in = 0;
        int out = 0;
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
    int undatedIn() const { return undatedIns; }
    int undatedOut() const { return undatedOuts; }
    int undatedEvents() const { return undatedCount; }
    // The largest in or out of one bin.
    int peak() const;

    // activity.csv: "Start;End;In;Out", one line per bin, then the undated
    // events on a line of their own.
    QByteArray csv() const;

private:
    Width binWidth = Width::Hour;
    QVector<Bin> list;
    int undatedIns = 0;
    int undatedOuts = 0;
    int undatedCount = 0;
};
