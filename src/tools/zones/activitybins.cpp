#include "activitybins.h"

#include <algorithm>

ActivityBins ActivityBins::compute(const FolderSummary &summary, Width width)
{
    ActivityBins activity;
    activity.binWidth = width;

    QDateTime first;
    QDateTime last;
    const auto cover = [&](const QDateTime &time) {
        if (!first.isValid() || time < first)
            first = time;
        if (!last.isValid() || time > last)
            last = time;
    };
    for (const FolderSummary::Event &event : summary.events()) {
        if (event.time.isValid()) {
            cover(event.time);
        } else {
            activity.undatedIns += event.in;
            activity.undatedOuts += event.out;
            ++activity.undatedCount;
        }
    }
    for (const FolderSummary::Span &span : summary.spans()) {
        cover(span.start);
        // The end is exclusive: a recording ending on the hour fills no
        // bin of the next hour.
        cover(span.end > span.start ? span.end.addSecs(-1) : span.start);
    }
    if (!first.isValid())
        return activity;

    const qint64 step = seconds(width);
    const qint64 origin = binStart(first, width).toSecsSinceEpoch();
    const qint64 count = (binStart(last, width).toSecsSinceEpoch() - origin) / step + 1;
    activity.list.resize(static_cast<int>(count));
    for (qint64 i = 0; i < count; ++i)
        activity.list[static_cast<int>(i)].start
            = QDateTime::fromSecsSinceEpoch(origin + i * step, Qt::UTC);
    for (const FolderSummary::Event &event : summary.events()) {
        if (!event.time.isValid())
            continue;
        Bin &bin = activity.list[static_cast<int>(
            (binStart(event.time, width).toSecsSinceEpoch() - origin) / step)];
        bin.in += event.in;
        bin.out += event.out;
    }
    return activity;
}

bool ActivityBins::parseWidth(const QString &text, Width &width)
{
    for (const Width w : { Width::TenMinutes, Width::Hour, Width::Day }) {
        if (text == widthName(w)) {
            width = w;
            return true;
        }
    }
    return false;
}

QString ActivityBins::widthName(Width width)
{
    switch (width) {
    case Width::TenMinutes:
        return QStringLiteral("10m");
    case Width::Hour:
        return QStringLiteral("1h");
    case Width::Day:
        break;
    }
    return QStringLiteral("1d");
}

qint64 ActivityBins::seconds(Width width)
{
    switch (width) {
    case Width::TenMinutes:
        return 600;
    case Width::Hour:
        return 3600;
    case Width::Day:
        break;
    }
    return 86400;
}

QDateTime ActivityBins::binStart(const QDateTime &time, Width width)
{
    // Qt::UTC times: whole days since the epoch start at midnight.
    const qint64 step = seconds(width);
    qint64 secs = time.toUTC().toSecsSinceEpoch();
    secs -= ((secs % step) + step) % step;
    return QDateTime::fromSecsSinceEpoch(secs, Qt::UTC);
}

int ActivityBins::peak() const
{
    int top = 0;
    for (const Bin &bin : list)
        top = std::max({ top, bin.in, bin.out });
    return top;
}

QByteArray ActivityBins::csv() const
{
    const QString format = QStringLiteral("yyyy-MM-dd hh:mm");
    QString text = QStringLiteral("Start;End;In;Out\n");
    for (const Bin &bin : list) {
        text += bin.start.toString(format) + QLatin1Char(';')
            + bin.start.addSecs(seconds(binWidth)).toString(format) + QLatin1Char(';')
            + QString::number(bin.in) + QLatin1Char(';') + QString::number(bin.out)
            + QLatin1Char('\n');
    }
    text += QStringLiteral("undated;;%1;%2\n").arg(undatedIns).arg(undatedOuts);
    return text.toUtf8();
}
