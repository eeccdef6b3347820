#include "summaryreport.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgGenerator>

#include "activitychart.h"
#include "videofiles.h"

namespace {

bool fail(QString *error, const QString &path, const QString &why)
{
    if (error)
        *error = QStringLiteral("%1: %2").arg(path, why);
    return false;
}

// QSaveFile would write through a link to wherever it points.
bool replaceable(const QString &path, QString *error)
{
    const QFileInfo info(path);
    if (info.isSymLink() || (info.exists() && !info.isFile()))
        return fail(error, path, QStringLiteral("not a regular file; left as it is"));
    return true;
}

bool saveBytes(const QString &path, const QByteArray &bytes, QString *error)
{
    if (!replaceable(path, error))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return fail(error, path, file.errorString());
    return true;
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
    if (!replaceable(path, error))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(error, path, file.errorString());
    if (format == ChartFormat::Svg) {
        QSvgGenerator svg;
        svg.setOutputDevice(&file);
        svg.setSize(size);
        svg.setResolution(96); // so that the page is `size` CSS pixels
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(title(summary));
        QPainter painter;
        if (!painter.begin(&svg))
            return fail(error, path, QStringLiteral("cannot draw the chart"));
        chart.paint(painter, QRect(QPoint(0, 0), size));
        painter.end();
    } else if (!chart.image(size).save(&file, "PNG")) {
        return fail(error, path,
            file.error() != QFileDevice::NoError ? file.errorString()
                                                 : QStringLiteral("cannot encode the chart"));
    }
    if (!file.commit())
        return fail(error, path, file.errorString());
    return true;
}

bool SummaryReport::write(
    const FolderSummary &summary, const ActivityBins &activity, QString *error)
{
    const QString folder = summary.folder();
    if (!QDir().mkpath(VideoFiles::folderExportDir(folder)))
        return fail(error, VideoFiles::folderExportDir(folder), QStringLiteral("cannot create it"));
    return saveBytes(VideoFiles::summaryFile(folder), summary.summaryCsv(), error)
        && saveBytes(VideoFiles::activityFile(folder), activity.csv(), error)
        && saveChart(summary, activity,
            VideoFiles::activityChartFile(folder, QStringLiteral("png")), ChartFormat::Png, error)
        && saveChart(summary, activity,
            VideoFiles::activityChartFile(folder, QStringLiteral("svg")), ChartFormat::Svg, error);
}
