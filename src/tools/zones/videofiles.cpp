#include "zones/videofiles.h"

#include <opencv2/videoio.hpp>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTextCodec>

#include "logging.h"
#include "video/framereader.h"
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

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

bool VideoFiles::counted(const QString &videoPath)
{
    return QFileInfo(resultFile(videoPath)).isFile();
}

QString VideoFiles::trajectoryImageFile(const QString &videoPath)
{
    return exportPath(videoPath, QStringLiteral("_doza.jpg"));
}

QString VideoFiles::densityFile(const QString &videoPath)
{
    return exportPath(videoPath, QStringLiteral("_doza.txt"));
}

QString VideoFiles::partialDir(const QString &videoPath)
{
    return exportDir(videoPath) + QStringLiteral("/partial");
}

QString VideoFiles::partialResultFile(const QString &videoPath)
{
    return partialDir(videoPath) + QLatin1Char('/') + baseName(videoPath) + QStringLiteral(".csv");
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
    return partialDir(videoPath) + QLatin1Char('/') + baseName(videoPath)
        + QStringLiteral("_run.json");
}

QString VideoFiles::commitJournalFile(const QString &videoPath)
{
    return partialDir(videoPath) + QLatin1Char('/') + baseName(videoPath)
        + QStringLiteral(".commit");
}

QString VideoFiles::nameClash(const QString &videoPath)
{
    // Every name a video's files take in exportCSV and partial/, in lower case.
    const auto names = [](const QString &video) {
        const QString base = baseName(video).toLower();
        QSet<QString> set;
        for (const char *suffix : { ".csv", "_doza.jpg", "_doza.txt", "_run.json", "_tracks.csv",
                 ".lock", "_area.krn", "_mask.krn", "_review.csv" }) {
            const QString name = base + QLatin1String(suffix);
            set << name << name + QStringLiteral(".tmp") << name + QStringLiteral(".writing");
        }
        set << QStringLiteral("partial/") + base + QStringLiteral(".csv")
            << QStringLiteral("partial/") + base + QStringLiteral("_run.json")
            << QStringLiteral("partial/") + base + QStringLiteral(".commit");
        return set;
    };
    const QSet<QString> own = names(videoPath);
    const QString fileName = QFileInfo(videoPath).fileName();
    // The folder's own files: a video called summary.mp4 would lose its
    // counts to the next summary.
    const QString folder = QFileInfo(videoPath).path();
    for (const QString &shared : { summaryFile(folder), activityFile(folder),
             activityChartFile(folder, QStringLiteral("png")),
             activityChartFile(folder, QStringLiteral("svg")), reviewSampleFile(folder) }) {
        if (own.contains(QFileInfo(shared).fileName().toLower()))
            return QStringLiteral("its files would take the name of the folder's %1 (letter case "
                                  "ignored): rename the video")
                .arg(shared);
    }
    for (const QString &other : listVideos(folder)) {
        const QString otherName = QFileInfo(other).fileName();
        if (otherName == fileName || !names(other).intersects(own))
            continue;
        return QStringLiteral("its files would take the names of those of %1 in %2 (letter case "
                              "ignored): rename one of the two videos")
            .arg(otherName, exportDir(videoPath));
    }
    return QString();
}

QString VideoFiles::nameProblem(const QString &videoPath)
{
    if (!videoPath.contains(QChar::ReplacementCharacter))
        return QString();
    struct stat status;
    if (::lstat(QFile::encodeName(videoPath).constData(), &status) == 0)
        return QString();
    return QStringLiteral("its name is not valid text in the system's character encoding (%1); "
                          "rename it")
        .arg(QString::fromLatin1(QTextCodec::codecForLocale()->name()));
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
    return FrameReader::openCapture(capture, videoPath);
}

QStringList VideoFiles::listVideos(const QString &folder)
{
    QStringList videos;
    // An empty path names no folder (QDir would take it for the current one).
    if (folder.isEmpty())
        return videos;
    // Read with the system's own calls: QDir drops a name that the system's
    // encoding cannot give back, which is listed here so that a run names it.
    DIR *listing = ::opendir(QFile::encodeName(folder).constData());
    if (listing == nullptr)
        return videos;
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    while (const dirent *entry = ::readdir(listing)) {
        const QByteArray name(entry->d_name);
        struct stat status;
        if (name.startsWith('.') || name.size() < 5 || name.right(4).toLower() != ".mp4"
            || ::fstatat(::dirfd(listing), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0
            || !S_ISREG(status.st_mode))
            continue;
        videos.append(prefix + QFile::decodeName(name));
    }
    ::closedir(listing);
    return videos;
}

QDateTime VideoFiles::startTimeFromFileName(const QString &videoPath)
{
    const QDateTime start = namedRecordingStart(videoPath);
    if (start.isValid())
        return start;
    // Without this every time stamp of the video would be empty.
    if (baseName(videoPath).contains(QLatin1String("video_")))
        qCWarning(lcZones).noquote() << "The name of" << videoPath
                                     << "holds no recording start (video_yyyyMMdd_hhmm_nn); its "
                                        "counts are stamped from the current time";
    return QDateTime::currentDateTime();
}

QString VideoFiles::reviewFile(const QString &videoPath)
{
    return exportPath(videoPath, QStringLiteral("_review.csv"));
}

QString VideoFiles::reviewSampleFile(const QString &folder)
{
    return folderExportDir(folder) + QStringLiteral("/review_sample.csv");
}

QDateTime VideoFiles::namedRecordingStart(const QString &videoPath)
{
    // Every "video_" goes, then the last three characters (the clip number
    // "_NN"); what is left must read yyyyMMdd_hhmm exactly.
    const QString marker = QStringLiteral("video_");
    QString name = baseName(videoPath);
    if (!name.contains(marker))
        return QDateTime();
    name.remove(marker);
    name.chop(3);
    return QDateTime::fromString(name, QStringLiteral("yyyyMMdd_hhmm"));
}

QString VideoFiles::replacedDir(const QString &videoPath, const QDateTime &when)
{
    return exportDir(videoPath) + QStringLiteral("/replaced-")
        + when.toString(QStringLiteral("yyyyMMdd-hhmmss"));
}
