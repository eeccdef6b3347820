#include "zones/trackwriter.h"

#include <cstdio>
#include <cstring>

#include "logging.h"
#include "zones/resultfile.h"
#include "zones/safefile.h"
#include "zones/videofiles.h"
#include <unistd.h>

TrackWriter::~TrackWriter()
{
    discard();
}

QString TrackWriter::temporaryFile(const QString &videoPath)
{
    return VideoFiles::tracksFile(videoPath) + QStringLiteral(".writing");
}

bool TrackWriter::start(const QString &videoPath)
{
    discard();
    problem.clear();
    failed = false;
    VideoFiles::ensureExportDir(videoPath);
    const QString temporary = temporaryFile(videoPath);
    file.setFileName(temporary);
    // A leftover of a killed run goes; anything but a file or a link there
    // is an error, and the new file never follows a link.
    problem = SafeFile::replaceProblem(temporary);
    if (problem.isEmpty())
        problem = SafeFile::remove(temporary);
    const qint64 length = static_cast<qint64>(std::strlen(header()));
    if (problem.isEmpty()
        && (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)
            || file.write(header(), length) != length))
        problem = QStringLiteral("cannot write %1: %2").arg(temporary, file.errorString());
    if (!problem.isEmpty()) {
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
        problem = QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString());
        qCWarning(lcZones).noquote() << "Cannot write the tracks:" << problem;
    }
}

bool TrackWriter::finish()
{
    if (!file.isOpen())
        return problem.isEmpty();
    const QString temporary = file.fileName();
    if (!failed && (!file.flush() || ::fsync(file.handle()) != 0)) {
        failed = true;
        problem = QStringLiteral("cannot write %1: %2").arg(temporary, file.errorString());
    }
    file.close();
    if (!failed && file.error() != QFileDevice::NoError) {
        failed = true;
        problem = QStringLiteral("cannot write %1: %2").arg(temporary, file.errorString());
    }
    if (failed) {
        qCWarning(lcZones).noquote() << "Cannot write the tracks:" << problem;
        const QString removal = SafeFile::remove(temporary);
        if (!removal.isEmpty())
            qCWarning(lcZones).noquote() << removal;
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
