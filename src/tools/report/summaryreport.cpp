#include "report/summaryreport.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

#include "report/activitychart.h"
#include "zones/safefile.h"
#include "zones/videofiles.h"

namespace {

bool fail(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
}

// Complete or absent, never through a link: what every file beside the
// counts gets.
bool saveBytes(const QString &path, const QByteArray &bytes, QString *error)
{
    const QString problem = SafeFile::save(path, bytes);
    return problem.isEmpty() || fail(error, problem);
}

} // namespace

QString SummaryReport::title(const FolderSummary &summary)
{
    return QDir(summary.folder()).dirName();
}

bool SummaryReport::saveChart(const FolderSummary &summary, const ActivityBins &activity,
    const QString &path, ChartFormat format, QString *error)
{
    const ActivityChart chart(title(summary), activity, summary.spans());
    const QSize size = ActivityChart::fileSize();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (format == ChartFormat::Svg) {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(size);
        svg.setResolution(96); // so that the page is `size` CSS pixels
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(title(summary));
        QPainter painter;
        if (!painter.begin(&svg))
            return fail(error, QStringLiteral("%1: cannot draw the chart").arg(path));
        chart.paint(painter, QRect(QPoint(0, 0), size));
        painter.end();
    } else if (!chart.image(size).save(&buffer, "PNG")) {
        return fail(error, QStringLiteral("%1: cannot encode the chart").arg(path));
    }
    buffer.close();
    return saveBytes(path, bytes, error);
}

bool SummaryReport::write(
    const FolderSummary &summary, const ActivityBins &activity, QString *error)
{
    const QString folder = summary.folder();
    if (!QDir().mkpath(VideoFiles::folderExportDir(folder)))
        return fail(
            error, QStringLiteral("%1: cannot create it").arg(VideoFiles::folderExportDir(folder)));
    return saveBytes(VideoFiles::summaryFile(folder), summary.summaryCsv(), error)
        && saveBytes(VideoFiles::activityFile(folder), activity.csv(), error)
        && saveChart(summary, activity,
            VideoFiles::activityChartFile(folder, QStringLiteral("png")), ChartFormat::Png, error)
        && saveChart(summary, activity,
            VideoFiles::activityChartFile(folder, QStringLiteral("svg")), ChartFormat::Svg, error);
}
