#include "zones/runlock.h"

#include <cerrno>
#include <climits>
#include <csignal>

#include <QCoreApplication>
#include <QFile>
#include <QList>
#include <QSysInfo>

#include "zones/safefile.h"
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Holder
{
    qint64 pid = 0;
    QString host;
    bool valid() const { return pid > 0 && !host.isEmpty(); }
};

Holder readHolder(int fd)
{
    char buffer[512];
    const ssize_t got = ::pread(fd, buffer, sizeof buffer - 1, 0);
    Holder holder;
    if (got <= 0)
        return holder;
    const QList<QByteArray> lines = QByteArray(buffer, static_cast<int>(got)).split('\n');
    if (lines.size() < 3)
        return holder;
    bool ok = false;
    holder.pid = lines[0].toLongLong(&ok);
    if (!ok)
        holder.pid = 0;
    holder.host = QString::fromUtf8(lines[2]).trimmed();
    return holder;
}

bool processRunning(qint64 pid)
{
    return pid > 0 && pid <= INT_MAX && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

bool sameFile(int fd, const QString &path)
{
    struct stat held;
    struct stat named;
    return ::fstat(fd, &held) == 0 && ::lstat(QFile::encodeName(path).constData(), &named) == 0
        && held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

} // namespace

RunLock::~RunLock()
{
    release();
}

RunLock::Take RunLock::take(const QString &path)
{
    release();
    lockPath = path;
    problem.clear();
    takenOver.clear();
    const QByteArray name = QFile::encodeName(path);
    const QByteArray info = QByteArray::number(QCoreApplication::applicationPid()) + '\n'
        + QCoreApplication::applicationName().toUtf8() + '\n' + QSysInfo::machineHostName().toUtf8()
        + '\n';
    // A few rounds: another run may take, release or replace it meanwhile.
    for (int round = 0; round < 8; ++round) {
        int handle
            = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        const bool created = handle >= 0;
        if (!created) {
            if (errno != EEXIST) {
                problem
                    = QStringLiteral("cannot create %1: %2").arg(path, SafeFile::systemReason());
                return Take::Failed;
            }
            struct stat status;
            if (::lstat(name.constData(), &status) != 0) {
                if (errno == ENOENT)
                    continue;
                problem = QStringLiteral("cannot read %1: %2").arg(path, SafeFile::systemReason());
                return Take::Failed;
            }
            if (!S_ISREG(status.st_mode)) {
                problem = QStringLiteral("cannot take the lock %1: %2")
                              .arg(path, SafeFile::describe(status.st_mode));
                return Take::Failed;
            }
            handle = ::open(name.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (handle < 0) {
                if (errno == ENOENT)
                    continue;
                problem = QStringLiteral("cannot open %1: %2").arg(path, SafeFile::systemReason());
                return Take::Failed;
            }
        }
        // A file system without flock (ENOLCK) leaves the process and host
        // named in the file to tell.
        const bool flocked = ::flock(handle, LOCK_EX | LOCK_NB) == 0;
        if (!flocked && errno == EWOULDBLOCK)
            return busy(handle);
        // Released and removed by its holder between our open and our flock.
        if (!sameFile(handle, path)) {
            ::close(handle);
            continue;
        }
        if (!created) {
            const Holder holder = readHolder(handle);
            const bool here = holder.host == QSysInfo::machineHostName();
            const bool running = processRunning(holder.pid);
            // A holder elsewhere cannot be looked for. Here every run holds
            // the flock of its lock: with it ours, the process named is gone,
            // its number perhaps given to another since (a restarted
            // container's runs get the same few numbers again).
            if (holder.valid() && (!here || (!flocked && running)))
                return busy(handle);
            if (!holder.valid())
                takenOver = QStringLiteral(
                    "took over the lock %1, which names no process (empty or damaged)")
                                .arg(path);
            else
                takenOver = QStringLiteral("took over the lock %1 left by process %2, which %3")
                                .arg(path)
                                .arg(holder.pid)
                                .arg(running ? QStringLiteral("no longer holds it")
                                             : QStringLiteral("is no longer running"));
        }
        if (::ftruncate(handle, 0) != 0
            || ::pwrite(handle, info.constData(), static_cast<size_t>(info.size()), 0)
                != info.size()
            || ::fsync(handle) != 0) {
            problem = QStringLiteral("cannot write %1: %2").arg(path, SafeFile::systemReason());
            if (created)
                ::unlink(name.constData());
            ::close(handle);
            return Take::Failed;
        }
        fd = handle;
        return Take::Taken;
    }
    problem = QStringLiteral("cannot take the lock %1: it keeps changing").arg(path);
    return Take::Failed;
}

RunLock::Take RunLock::busy(int holder)
{
    const Holder who = readHolder(holder);
    ::close(holder);
    problem = who.valid()
        ? QStringLiteral("it is being processed by process %1 on host %2")
              .arg(who.pid)
              .arg(who.host)
        : QStringLiteral("it is being processed by another run (%1)").arg(lockPath);
    return Take::Busy;
}

bool RunLock::intact() const
{
    return fd >= 0 && sameFile(fd, lockPath);
}

void RunLock::release()
{
    if (fd < 0)
        return;
    // Only our own file: a run that took over a lock removed under us keeps its.
    if (sameFile(fd, lockPath))
        ::unlink(QFile::encodeName(lockPath).constData());
    ::close(fd);
    fd = -1;
}
