#include "outputset.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <QFile>
#include <QFileInfo>
#include <QLockFile>

#include "logging.h"
#include "resultfile.h"
#include "videofiles.h"
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// A dangling symbolic link exists too: QFileInfo::exists would say no.
bool present(const QString &path)
{
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0;
}

bool removeIfPresent(const QString &path, QString &problem)
{
    if (!present(path) || ::unlink(QFile::encodeName(path).constData()) == 0)
        return true;
    problem = QStringLiteral("cannot remove %1: %2").arg(path, systemError());
    return false;
}

bool syncDescriptor(int fd)
{
    return ::fsync(fd) == 0;
}

// Creates `path` anew (never through a link left in its place) with all of
// `bytes`, on disk before it returns.
bool writeNew(const QString &path, const QByteArray &bytes, QString &problem)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        problem = QStringLiteral("cannot create %1: %2").arg(path, file.errorString());
        return false;
    }
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        problem = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    if (!syncDescriptor(file.handle())) {
        problem = QStringLiteral("cannot write %1: %2").arg(path, systemError());
        return false;
    }
    return true;
}

bool syncFile(const QString &path, QString &problem)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || !syncDescriptor(fd)) {
        problem = QStringLiteral("cannot write %1: %2").arg(path, systemError());
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

// A file that is there must be one that a rename may replace: checked for all
// three before the first rename, so that a refusal leaves every earlier file
// as it was.
bool replaceable(const QString &path, QString &problem)
{
    struct stat status;
    const QByteArray name = QFile::encodeName(path);
    if (::lstat(name.constData(), &status) != 0) {
        if (errno == ENOENT)
            return true;
        problem = QStringLiteral("cannot replace %1: %2").arg(path, systemError());
        return false;
    }
    if (S_ISLNK(status.st_mode))
        return true; // the link itself is replaced
    if (!S_ISREG(status.st_mode)) {
        problem = QStringLiteral("cannot replace %1: %2")
                      .arg(path,
                          S_ISDIR(status.st_mode) ? QStringLiteral("it is a directory")
                                                  : QStringLiteral("it is not a regular file"));
        return false;
    }
    // Immutable, append-only and read-only files refuse this, and must not
    // be replaced behind their owner's back either.
    const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        problem = QStringLiteral("cannot replace %1: %2").arg(path, systemError());
        return false;
    }
    ::close(fd);
    return true;
}

bool renameOver(const QString &from, const QString &to, QString &problem)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    problem = QStringLiteral("cannot rename %1 to %2: %3").arg(from, to, systemError());
    return false;
}

void syncFolder(const QString &folder)
{
    const int fd
        = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || !syncDescriptor(fd))
        qCWarning(lcZones).noquote() << "Cannot sync the folder" << folder << systemError();
    if (fd >= 0)
        ::close(fd);
}

} // namespace

OutputSet::OutputSet() = default;

OutputSet::~OutputSet()
{
    abandon();
}

OutputSet::Begin OutputSet::begin(const QString &videoPath)
{
    abandon();
    problem.clear();
    video = videoPath;
    partial = VideoFiles::partialResultFile(videoPath);
    if (!VideoFiles::ensureExportDir(videoPath)) {
        problem
            = QStringLiteral("cannot create the folder %1").arg(VideoFiles::exportDir(videoPath));
        return Failed;
    }

    const QString lockName = VideoFiles::lockFile(videoPath);
    auto candidate = std::make_unique<QLockFile>(lockName);
    // Held for as long as the video takes: only a dead holder makes it stale.
    candidate->setStaleLockTime(0);
    if (!candidate->tryLock(0)) {
        if (candidate->error() == QLockFile::LockFailedError) {
            qint64 pid = 0;
            QString host;
            QString application;
            problem = candidate->getLockInfo(&pid, &host, &application)
                ? QStringLiteral("it is being processed by process %1 on host %2")
                      .arg(pid)
                      .arg(host)
                : QStringLiteral("it is being processed by another run (%1)").arg(lockName);
            return Busy;
        }
        // QLockFile keeps the system's reason to itself; the folder tells.
        const QString folder = VideoFiles::exportDir(videoPath);
        QString reason = candidate->error() == QLockFile::PermissionError
            ? QStringLiteral("permission denied")
            : QStringLiteral("unknown error");
        if (::access(QFile::encodeName(folder).constData(), W_OK) != 0)
            reason = systemError();
        problem = QStringLiteral("cannot create %1: %2").arg(lockName, reason);
        return Failed;
    }
    lock = std::move(candidate);

    // Temporary files of a run that was killed, and its partial counts.
    bool started = removeIfPresent(
                       VideoFiles::temporaryFile(VideoFiles::trajectoryImageFile(video)), problem)
        && removeIfPresent(VideoFiles::temporaryFile(VideoFiles::densityFile(video)), problem)
        && removeIfPresent(partial, problem);
    if (started) {
        ResultFile counts; // the header alone
        started = counts.openFile(partial, ResultFile::Append) == 1;
        if (!started)
            problem = counts.errorText();
        counts.close();
    }
    if (!started) {
        release();
        return Failed;
    }
    return Started;
}

bool OutputSet::commit(const std::vector<unsigned char> &jpeg, const QByteArray &density)
{
    if (!active()) {
        problem = QStringLiteral("no video is being processed");
        return false;
    }
    problem.clear();
    const QString image = VideoFiles::trajectoryImageFile(video);
    const QString text = VideoFiles::densityFile(video);
    const QString counts = VideoFiles::resultFile(video);
    const QString imageTemporary = VideoFiles::temporaryFile(image);
    const QString textTemporary = VideoFiles::temporaryFile(text);

    const QByteArray imageBytes(
        reinterpret_cast<const char *>(jpeg.data()), static_cast<int>(jpeg.size()));
    bool done = replaceable(image, problem) && replaceable(text, problem)
        && replaceable(counts, problem) && writeNew(imageTemporary, imageBytes, problem)
        && writeNew(textTemporary, density, problem) && syncFile(partial, problem);
    if (done) {
        // The count file last: its name is what marks the video as done.
        done = renameOver(imageTemporary, image, problem)
            && renameOver(textTemporary, text, problem) && renameOver(partial, counts, problem);
        syncFolder(VideoFiles::exportDir(video));
    }
    if (!done) {
        QString ignored;
        removeIfPresent(imageTemporary, ignored);
        removeIfPresent(textTemporary, ignored);
    }
    release();
    return done;
}

void OutputSet::abandon()
{
    if (!active())
        return;
    QString ignored;
    removeIfPresent(VideoFiles::temporaryFile(VideoFiles::trajectoryImageFile(video)), ignored);
    removeIfPresent(VideoFiles::temporaryFile(VideoFiles::densityFile(video)), ignored);
    release();
}

void OutputSet::release()
{
    if (lock)
        lock->unlock();
    lock.reset();
}
