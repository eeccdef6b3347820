#pragma once

#include <QColor>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QVector>

#include "report/activitybins.h"
#include "report/foldersummary.h"

class QImage;
class QPainter;

// The activity of a folder as a bar chart: in and out side by side per time
// bin, the counted recording spans shaded behind them, the folder's name as
// title, axis labels and a legend. Painted with QPainter, so the window, the
// PNG and the SVG show the same drawing.
class ActivityChart
{
public:
    ActivityChart(const QString &title, const ActivityBins &activity,
        const QVector<FolderSummary::Span> &spans);

    void paint(QPainter &painter, const QRect &area) const;
    QImage image(const QSize &size) const;

    // The size of the saved chart files.
    static QSize fileSize() { return QSize(1200, 600); }
    static QColor inColor() { return QColor(46, 125, 50); }
    static QColor outColor() { return QColor(239, 108, 0); }
    static QColor background() { return Qt::white; }

    // Where the bars stand in a chart painted into `area`.
    QRectF plotArea(const QRect &area) const;
    // The bar of bin `index`; empty when the bin has no count of that kind.
    QRectF barRect(const QRect &area, int index, bool in) const;

private:
    static double valueAxisTop(qint64 peak);
    double xOf(const QRectF &plot, const QDateTime &time) const;
    void paintAxes(QPainter &painter, const QRectF &plot) const;
    void paintLegend(QPainter &painter, const QRect &area) const;

    QString title;
    ActivityBins activity;
    QVector<FolderSummary::Span> spans;
    double top; // of the value axis: painting a bar must not scan every bin
};
