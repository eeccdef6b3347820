#include "report/activitybins.h"

#include <algorithm>
#include <vector>

namespace {

// Bins counted from the epoch; days start at midnight of the Qt::UTC clock.
qint64 binIndex(const QDateTime &time, qint64 step)
{
    const qint64 secs = time.toUTC().toSecsSinceEpoch();
    return secs / step - (secs % step < 0 ? 1 : 0);
}

// The first bin of the kMaxBins-long stretch of `dated` (sorted bin indices)
// that holds the most of them.
qint64 busiestStretch(const std::vector<qint64> &dated)
{
    qint64 best = dated.front();
    std::size_t most = 0;
    std::size_t begin = 0;
    for (std::size_t end = 0; end < dated.size(); ++end) {
        while (dated[end] - dated[begin] >= ActivityBins::kMaxBins)
            ++begin;
        if (end - begin + 1 > most) {
            most = end - begin + 1;
            best = dated[begin];
        }
    }
    return best;
}

} // namespace

ActivityBins ActivityBins::compute(const FolderSummary &summary, Width width)
{
    ActivityBins activity;
    activity.binWidth = width;
    const qint64 step = seconds(width);

    std::vector<qint64> dated;
    for (const FolderSummary::Event &event : summary.events()) {
        if (event.time.isValid()) {
            dated.push_back(binIndex(event.time, step));
        } else {
            activity.undatedIns += event.in;
            activity.undatedOuts += event.out;
            ++activity.undatedCount;
        }
    }
    std::vector<qint64> covered = dated;
    for (const FolderSummary::Span &span : summary.spans()) {
        covered.push_back(binIndex(span.start, step));
        // The end is exclusive: a recording ending on the hour fills no
        // bin of the next hour.
        covered.push_back(
            binIndex(span.end > span.start ? span.end.addSecs(-1) : span.start, step));
    }
    if (covered.empty())
        return activity;

    const auto [low, high] = std::minmax_element(covered.begin(), covered.end());
    qint64 first = *low;
    qint64 count = *high - *low + 1;
    if (count > kMaxBins) {
        std::sort(dated.begin(), dated.end());
        first = dated.empty() ? first : busiestStretch(dated);
        count = kMaxBins;
    }
    activity.list.resize(static_cast<int>(count));
    for (qint64 i = 0; i < count; ++i)
        activity.list[static_cast<int>(i)].start
            = QDateTime::fromSecsSinceEpoch((first + i) * step, Qt::UTC);
    for (const FolderSummary::Event &event : summary.events()) {
        if (!event.time.isValid())
            continue;
        const qint64 i = binIndex(event.time, step) - first;
        if (i < 0 || i >= count) {
            activity.outsideIns += event.in;
            activity.outsideOuts += event.out;
            ++activity.outsideCount;
            continue;
        }
        Bin &bin = activity.list[static_cast<int>(i)];
        bin.in += event.in;
        bin.out += event.out;
    }
    if (activity.outsideCount > 0) {
        activity.cut = QStringLiteral("the events of %1 span more than %2 bins of %3: the bins "
                                      "run from %4 to %5, and %6 events outside them are left out")
                           .arg(summary.folder(), QString::number(kMaxBins), widthName(width),
                               FolderSummary::formatTime(activity.list.first().start),
                               FolderSummary::formatTime(activity.list.last().start.addSecs(step)),
                               QString::number(activity.outsideCount));
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
    const qint64 step = seconds(width);
    return QDateTime::fromSecsSinceEpoch(binIndex(time, step) * step, Qt::UTC);
}

qint64 ActivityBins::peak() const
{
    qint64 top = 0;
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
    if (outsideCount > 0)
        text += QStringLiteral("outside;;%1;%2\n").arg(outsideIns).arg(outsideOuts);
    return text.toUtf8();
}
