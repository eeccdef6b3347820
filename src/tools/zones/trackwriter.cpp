#include "trackwriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "logging.h"
#include "resultfile.h"
#include "videofiles.h"

TrackWriter::~TrackWriter()
{
    discard();
}

bool TrackWriter::start(const QString &videoPath)
{
    discard();
    problem.clear();
    failed = false;
    finalPath = VideoFiles::tracksFile(videoPath);
    VideoFiles::ensureExportDir(videoPath);
    file.setFileName(finalPath + QStringLiteral(".writing"));
    const qint64 length = static_cast<qint64>(std::strlen(header()));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(header(), length) != length) {
        problem = QStringLiteral("%1: %2").arg(file.fileName(), file.errorString());
        qCWarning(lcZones).noquote() << "Cannot write the tracks:" << problem;
        discard();
        return false;
    }
    return true;
}

void TrackWriter::addFrame(double frame, const TargetList &tracks, int firstId)
{
    if (!file.isOpen() || failed || tracks.empty())
        return;
    line.clear();
    // The frame as the count file writes it (C's %g).
    const std::string frameText = ResultFile::formatFrame(frame).toStdString();
    char buffer[96];
    for (const Target *t : tracks) {
        const int n = std::snprintf(buffer, sizeof buffer, ";%d;%d;%d;%d;%d\n", t->id - firstId,
            t->centroid.x, t->centroid.y, t->width, t->height);
        line += frameText;
        line.append(buffer, static_cast<size_t>(n));
    }
    const qint64 length = static_cast<qint64>(line.size());
    if (file.write(line.data(), length) != length) {
        failed = true;
        problem = QStringLiteral("%1: %2").arg(file.fileName(), file.errorString());
        qCWarning(lcZones).noquote() << "Cannot write the tracks:" << problem;
    }
}

bool TrackWriter::commit()
{
    if (!file.isOpen())
        return problem.isEmpty();
    const QString temporary = file.fileName();
    if (!failed && !file.flush()) {
        failed = true;
        problem = QStringLiteral("%1: %2").arg(temporary, file.errorString());
    }
    file.close();
    if (!failed && file.error() != QFileDevice::NoError) {
        failed = true;
        problem = QStringLiteral("%1: %2").arg(temporary, file.errorString());
    }
    // rename() replaces an earlier tracks file in one step.
    if (!failed
        && std::rename(
               QFile::encodeName(temporary).constData(), QFile::encodeName(finalPath).constData())
            != 0) {
        failed = true;
        problem
            = QStringLiteral("%1: %2").arg(finalPath, QString::fromLocal8Bit(std::strerror(errno)));
    }
    if (failed) {
        qCWarning(lcZones).noquote() << "Cannot write the tracks:" << problem;
        if (!QFile::remove(temporary) && QFile::exists(temporary))
            qCWarning(lcZones) << "Cannot remove" << temporary;
        return false;
    }
    return true;
}

void TrackWriter::discard()
{
    if (!file.isOpen())
        return;
    file.close();
    if (!file.remove())
        qCWarning(lcZones) << "Cannot remove" << file.fileName() << file.errorString();
}
