#include "zones/trackwriter.h"

#include <cerrno>
#include <cstdio>

#include <QFile>

#include "logging.h"
#include "zones/resultfile.h"
#include "zones/safefile.h"
#include "zones/videofiles.h"
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kBlock = 64 * 1024;

} // namespace

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
    temporary = temporaryFile(videoPath);
    // A leftover of a killed run goes; anything but a file or a link there
    // is an error, and the new file never follows a link.
    problem = SafeFile::replaceProblem(temporary);
    if (problem.isEmpty())
        problem = SafeFile::remove(temporary);
    if (problem.isEmpty()) {
        fd = ::open(QFile::encodeName(temporary).constData(),
            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0)
            problem
                = QStringLiteral("cannot create %1: %2").arg(temporary, SafeFile::systemReason());
    }
    if (!problem.isEmpty()) {
        qCDebug(lcZones).noquote() << "Cannot write the tracks:" << problem;
        return false;
    }
    pending = header();
    return true;
}

void TrackWriter::addFrame(double frame, const TargetList &tracks, int firstId)
{
    if (fd < 0 || failed || tracks.empty())
        return;
    // The frame as the count file writes it (C's %g).
    const std::string frameText = ResultFile::formatFrame(frame).toStdString();
    char buffer[96];
    for (const Target *t : tracks) {
        const int n = std::snprintf(buffer, sizeof buffer, ";%d;%d;%d;%d;%d\n", t->id - firstId,
            t->centroid.x, t->centroid.y, t->width, t->height);
        pending += frameText;
        pending.append(buffer, static_cast<size_t>(n));
    }
    if (pending.size() >= kBlock)
        writePending();
}

void TrackWriter::writePending()
{
    if (!failed && !SafeFile::writeOut(fd, pending.data(), static_cast<qint64>(pending.size()))) {
        failed = true;
        problem = QStringLiteral("cannot write %1: %2").arg(temporary, SafeFile::systemReason());
    }
    pending.clear();
}

bool TrackWriter::finish()
{
    if (fd < 0)
        return problem.isEmpty();
    writePending();
    if (!failed && ::fsync(fd) != 0) {
        failed = true;
        problem = QStringLiteral("cannot write %1: %2").arg(temporary, SafeFile::systemReason());
    }
    if (::close(fd) != 0 && !failed) {
        failed = true;
        problem = QStringLiteral("cannot write %1: %2").arg(temporary, SafeFile::systemReason());
    }
    fd = -1;
    if (failed) {
        // The caller reports it; this is for the trace.
        qCDebug(lcZones).noquote() << "Cannot write the tracks:" << problem;
        const QString removal = SafeFile::remove(temporary);
        if (!removal.isEmpty())
            qCWarning(lcZones).noquote() << removal;
        return false;
    }
    return true;
}

void TrackWriter::discard()
{
    if (fd < 0)
        return;
    // Only our own file: a run that took the video over has one of this name.
    struct stat held;
    struct stat named;
    const bool ours = ::fstat(fd, &held) == 0
        && ::lstat(QFile::encodeName(temporary).constData(), &named) == 0
        && held.st_dev == named.st_dev && held.st_ino == named.st_ino;
    ::close(fd);
    fd = -1;
    pending.clear();
    const QString removal = ours ? SafeFile::remove(temporary) : QString();
    if (!removal.isEmpty())
        qCWarning(lcZones).noquote() << removal;
}
