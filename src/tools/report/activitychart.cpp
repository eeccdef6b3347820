#include "report/activitychart.h"

#include <algorithm>
#include <cmath>

#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QStringList>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ActivityChart", text);
}

constexpr int kLeft = 80;
constexpr int kRight = 24;
constexpr int kTop = 70;
constexpr int kBottom = 78;
constexpr int kValueTicks = 5;
const QColor spanColor(225, 240, 252);
const QColor axisColor(66, 66, 66);
const QColor gridColor(224, 224, 224);

QFont font(int pixels, bool bold = false)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

// 1, 2 or 5 times a power of ten, at least `value`; counts step by 1 at least.
double niceStep(double value)
{
    if (value <= 1)
        return 1;
    const double magnitude = std::pow(10.0, std::floor(std::log10(value)));
    for (const double m : { 1.0, 2.0, 5.0, 10.0 }) {
        if (m * magnitude >= value)
            return m * magnitude;
    }
    return 10 * magnitude;
}

QString widthText(ActivityBins::Width width)
{
    switch (width) {
    case ActivityBins::Width::TenMinutes:
        return tr("10 minutes");
    case ActivityBins::Width::Hour:
        return tr("1 hour");
    case ActivityBins::Width::Day:
        break;
    }
    return tr("1 day");
}

} // namespace

ActivityChart::ActivityChart(
    const QString &title, const ActivityBins &activity, const QVector<FolderSummary::Span> &spans)
    : title(title)
    , activity(activity)
    , spans(spans)
    , top(valueAxisTop(activity.peak()))
{
}

QRectF ActivityChart::plotArea(const QRect &area) const
{
    return QRectF(area).adjusted(kLeft, kTop, -kRight, -kBottom);
}

double ActivityChart::valueAxisTop(qint64 peak)
{
    const double highest = static_cast<double>(std::max<qint64>(peak, 1));
    const double step = niceStep(highest / kValueTicks);
    return std::max(1.0, std::ceil(highest / step) * step);
}

double ActivityChart::xOf(const QRectF &plot, const QDateTime &time) const
{
    const QVector<ActivityBins::Bin> &bins = activity.bins();
    const double begin = static_cast<double>(bins.first().start.toSecsSinceEpoch());
    const double length
        = static_cast<double>(bins.size() * ActivityBins::seconds(activity.width()));
    const double t = static_cast<double>(time.toSecsSinceEpoch());
    return plot.left() + std::clamp((t - begin) / length, 0.0, 1.0) * plot.width();
}

QRectF ActivityChart::barRect(const QRect &area, int index, bool in) const
{
    const QVector<ActivityBins::Bin> &bins = activity.bins();
    if (index < 0 || index >= bins.size())
        return QRectF();
    const qint64 value = in ? bins[index].in : bins[index].out;
    if (value <= 0)
        return QRectF();
    const QRectF plot = plotArea(area);
    const double slot = plot.width() / bins.size();
    // A tenth of the slot free on either side; in on the left, out on the right.
    const double bar = slot * 0.4;
    const double left = plot.left() + index * slot + slot * 0.1 + (in ? 0 : bar);
    const double height = plot.height() * static_cast<double>(value) / top;
    return QRectF(left, plot.bottom() - height, bar, height);
}

void ActivityChart::paint(QPainter &painter, const QRect &area) const
{
    painter.save();
    painter.fillRect(area, background());
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    const QRectF plot = plotArea(area);

    painter.setPen(axisColor);
    painter.setFont(font(18, true));
    painter.drawText(QRectF(area.left(), area.top() + 8, area.width(), 26), Qt::AlignCenter, title);
    QStringList notShown;
    if (activity.undatedEvents() > 0) {
        notShown << tr("%1 events without a time stamp (%2 in, %3 out) not shown")
                        .arg(activity.undatedEvents())
                        .arg(activity.undatedIn())
                        .arg(activity.undatedOut());
    }
    if (activity.outsideEvents() > 0) {
        notShown << tr("%1 events (%2 in, %3 out) outside these %4 bins not shown")
                        .arg(activity.outsideEvents())
                        .arg(activity.outsideIn())
                        .arg(activity.outsideOut())
                        .arg(ActivityBins::kMaxBins);
    }
    if (!notShown.isEmpty()) {
        painter.setFont(font(12));
        painter.drawText(QRectF(area.left(), area.top() + 34, area.width(), 18), Qt::AlignCenter,
            notShown.join(QStringLiteral("; ")));
    }

    if (activity.bins().isEmpty()) {
        painter.setPen(axisColor);
        painter.drawRect(plot);
        painter.setFont(font(14));
        painter.drawText(plot, Qt::AlignCenter, tr("No dated events"));
        painter.restore();
        return;
    }

    for (const FolderSummary::Span &span : spans) {
        const double x0 = xOf(plot, span.start);
        const double x1 = xOf(plot, span.end);
        if (x1 > x0)
            painter.fillRect(QRectF(x0, plot.top(), x1 - x0, plot.height()), spanColor);
    }
    paintAxes(painter, plot);
    for (int i = 0; i < activity.bins().size(); ++i) {
        for (const bool in : { true, false }) {
            const QRectF bar = barRect(area, i, in);
            if (!bar.isEmpty())
                painter.fillRect(bar, in ? inColor() : outColor());
        }
    }
    painter.setPen(axisColor);
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
    painter.drawLine(plot.bottomLeft(), plot.topLeft());
    paintLegend(painter, area);
    painter.restore();
}

void ActivityChart::paintAxes(QPainter &painter, const QRectF &plot) const
{
    // Values: gridlines and labels at nice steps.
    const double step = niceStep(top / kValueTicks);
    painter.setFont(font(12));
    const QFontMetrics metrics(painter.font());
    for (double v = 0; v <= top + step / 2; v += step) {
        const double y = plot.bottom() - plot.height() * v / top;
        painter.setPen(gridColor);
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        painter.setPen(axisColor);
        painter.drawText(QRectF(plot.left() - 50, y - 8, 44, 16), Qt::AlignRight | Qt::AlignVCenter,
            QString::number(v, 'g', 8));
    }

    // Times: as many labels as fit, on bin starts.
    const QVector<ActivityBins::Bin> &bins = activity.bins();
    const bool days = activity.width() == ActivityBins::Width::Day;
    const QString format
        = days ? QStringLiteral("yyyy-MM-dd") : QStringLiteral("yyyy-MM-dd\nhh:mm");
    const double slot = plot.width() / bins.size();
    const int labelWidth = metrics.horizontalAdvance(QStringLiteral("0000-00-00")) + 16;
    const int every = std::max(1, static_cast<int>(std::ceil(labelWidth / slot)));
    for (int i = 0; i < bins.size(); i += every) {
        const double x = plot.left() + i * slot;
        painter.setPen(axisColor);
        painter.drawLine(QPointF(x, plot.bottom()), QPointF(x, plot.bottom() + 5));
        painter.drawText(QRectF(x - labelWidth / 2.0, plot.bottom() + 7, labelWidth, 32),
            Qt::AlignHCenter | Qt::AlignTop, bins[i].start.toString(format));
    }

    painter.setFont(font(13));
    painter.drawText(QRectF(plot.left(), plot.bottom() + 44, plot.width(), 20), Qt::AlignCenter,
        tr("Time (bins of %1)").arg(widthText(activity.width())));
    painter.save();
    painter.translate(plot.left() - 62, plot.center().y());
    painter.rotate(-90);
    painter.drawText(
        QRectF(-plot.height() / 2, -10, plot.height(), 20), Qt::AlignCenter, tr("Insects per bin"));
    painter.restore();
}

void ActivityChart::paintLegend(QPainter &painter, const QRect &area) const
{
    painter.setFont(font(12));
    const QFontMetrics metrics(painter.font());
    const struct
    {
        QColor colour;
        QString text;
    } entries[]
        = { { inColor(), tr("In") }, { outColor(), tr("Out") }, { spanColor, tr("Recording") } };
    int width = 0;
    for (const auto &entry : entries)
        width += 14 + 6 + metrics.horizontalAdvance(entry.text) + 16;
    int x = area.right() - kRight - width;
    const int y = area.top() + kTop - 22;
    for (const auto &entry : entries) {
        painter.fillRect(QRect(x, y, 14, 14), entry.colour);
        painter.setPen(axisColor);
        painter.drawRect(QRect(x, y, 14, 14));
        x += 20;
        painter.drawText(QRect(x, y - 2, metrics.horizontalAdvance(entry.text) + 4, 18),
            Qt::AlignLeft | Qt::AlignVCenter, entry.text);
        x += metrics.horizontalAdvance(entry.text) + 16;
    }
}

QImage ActivityChart::image(const QSize &size) const
{
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(background());
    QPainter painter(&picture);
    paint(painter, picture.rect());
    painter.end();
    return picture;
}
