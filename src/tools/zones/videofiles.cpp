#include "videofiles.h"

#include <opencv2/videoio.hpp>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include "logging.h"

namespace {
QString exportPath(const QString &videoPath, const QString &suffix)
{
    return VideoFiles::exportDir(videoPath) + QLatin1Char('/') + VideoFiles::baseName(videoPath)
        + suffix;
}
} // namespace

QString VideoFiles::baseName(const QString &videoPath)
{
    return QFileInfo(videoPath).completeBaseName();
}

QString VideoFiles::exportDir(const QString &videoPath)
{
    return QFileInfo(videoPath).path() + QStringLiteral("/exportCSV");
}

QString VideoFiles::areaFile(const QString &videoPath)
{
    return exportPath(videoPath, QStringLiteral("_area.krn"));
}

QString VideoFiles::maskFile(const QString &videoPath)
{
    return exportPath(videoPath, QStringLiteral("_mask.krn"));
}

QString VideoFiles::resultFile(const QString &videoPath)
{
    return exportPath(videoPath, QStringLiteral(".csv"));
}

QString VideoFiles::trajectoryImageFile(const QString &videoPath)
{
    return exportPath(videoPath, QStringLiteral("_doza.jpg"));
}

QString VideoFiles::densityFile(const QString &videoPath)
{
    return exportPath(videoPath, QStringLiteral("_doza.txt"));
}

QString VideoFiles::partialResultFile(const QString &videoPath)
{
    return exportPath(videoPath, QStringLiteral(".partial.csv"));
}

QString VideoFiles::lockFile(const QString &videoPath)
{
    return exportPath(videoPath, QStringLiteral(".lock"));
}

QString VideoFiles::temporaryFile(const QString &resultPath)
{
    return resultPath + QStringLiteral(".tmp");
}

QString VideoFiles::runRecordFile(const QString &videoPath)
{
    return exportPath(videoPath, QStringLiteral("_run.json"));
}

QString VideoFiles::partialRunRecordFile(const QString &videoPath)
{
    return exportPath(videoPath, QStringLiteral(".partial_run.json"));
}

QString VideoFiles::tracksFile(const QString &videoPath)
{
    return exportPath(videoPath, QStringLiteral("_tracks.csv"));
}

QString VideoFiles::folderExportDir(const QString &folder)
{
    return QDir(folder).absolutePath() + QStringLiteral("/exportCSV");
}

QString VideoFiles::summaryFile(const QString &folder)
{
    return folderExportDir(folder) + QStringLiteral("/summary.csv");
}

QString VideoFiles::activityFile(const QString &folder)
{
    return folderExportDir(folder) + QStringLiteral("/activity.csv");
}

QString VideoFiles::activityChartFile(const QString &folder, const QString &suffix)
{
    return folderExportDir(folder) + QStringLiteral("/activity.") + suffix;
}

bool VideoFiles::ensureExportDir(const QString &videoPath)
{
    return QDir().mkpath(exportDir(videoPath));
}

bool VideoFiles::openCapture(cv::VideoCapture &capture, const QString &videoPath)
{
    if (videoPath.isEmpty())
        return false;
    return capture.open(QFile::encodeName(videoPath).toStdString(), cv::CAP_FFMPEG);
}

QStringList VideoFiles::listVideos(const QString &folder)
{
    QStringList videos;
    // An empty path names no folder (QDir would take it for the current one).
    if (folder.isEmpty())
        return videos;
    // Without QDir::CaseSensitive the filter ignores letter case; without
    // QDir::Hidden hidden files stay out.
    QDirIterator it(folder, { QStringLiteral("*.mp4") }, QDir::Files | QDir::NoSymLinks);
    while (it.hasNext())
        videos.append(it.next());
    return videos;
}

QDateTime VideoFiles::startTimeFromFileName(const QString &videoPath)
{
    const QString marker = QStringLiteral("video_");
    QString name = QFileInfo(videoPath).completeBaseName();
    if (!name.contains(marker))
        return QDateTime::currentDateTime();
    name.remove(marker);
    name.chop(3);
    const QDateTime start = QDateTime::fromString(name, QStringLiteral("yyyyMMdd_hhmm"));
    if (start.isValid())
        return start;
    // Without this every time stamp of the video would be empty.
    qCWarning(lcZones).noquote() << "The name of" << videoPath
                                 << "holds no recording start (video_yyyyMMdd_hhmm_nn); its "
                                    "counts are stamped from the current time";
    return QDateTime::currentDateTime();
}

QDateTime VideoFiles::recordingStart(const QString &videoPath)
{
    if (!baseName(videoPath).contains(QLatin1String("video_")))
        return QDateTime();
    return startTimeFromFileName(videoPath);
}

QString VideoFiles::reviewFile(const QString &videoPath)
{
    return exportPath(videoPath, QStringLiteral("_review.csv"));
}

QString VideoFiles::reviewSampleFile(const QString &folder)
{
    return folderExportDir(folder) + QStringLiteral("/review_sample.csv");
}
