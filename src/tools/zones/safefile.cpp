#include "zones/safefile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "logging.h"
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool SafeFile::writeOut(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = ENOSPC;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

QString SafeFile::describe(unsigned int mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("it is a directory");
    if (S_ISLNK(mode))
        return QStringLiteral("it is a symbolic link");
    if (S_ISFIFO(mode))
        return QStringLiteral("it is a pipe");
    if (S_ISSOCK(mode))
        return QStringLiteral("it is a socket");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("it is a device");
    return QStringLiteral("it is not a regular file");
}

QString SafeFile::systemReason(int code)
{
    return QString::fromLocal8Bit(std::strerror(code < 0 ? errno : code));
}

bool SafeFile::present(const QString &path)
{
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0;
}

QString SafeFile::replaceProblem(const QString &path)
{
    struct stat status;
    const QByteArray name = QFile::encodeName(path);
    if (::lstat(name.constData(), &status) != 0) {
        if (errno == ENOENT)
            return QString();
        return QStringLiteral("cannot replace %1: %2").arg(path, systemReason());
    }
    if (S_ISLNK(status.st_mode))
        return QString(); // the link itself is replaced
    if (!S_ISREG(status.st_mode))
        return QStringLiteral("cannot replace %1: %2").arg(path, describe(status.st_mode));
    // Immutable, append-only and read-only files refuse this, and must not
    // be replaced behind their owner's back either.
    const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return QStringLiteral("cannot replace %1: %2").arg(path, systemReason());
    ::close(fd);
    return QString();
}

bool SafeFile::openForReading(QFile &file, const QString &path, QString *error)
{
    const auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(path, why);
        return false;
    };
    // Without waiting for a writer, should it be a pipe.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(systemReason());
    struct stat status;
    if (::fstat(fd, &status) != 0) {
        const QString why = systemReason();
        ::close(fd);
        return fail(why);
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(fd);
        return fail(describe(status.st_mode));
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    file.setFileName(path);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(file.errorString());
    }
    return true;
}

QString SafeFile::writeNew(const QString &path, const QByteArray &bytes)
{
    // O_EXCL refuses a link in the way instead of following it.
    const int fd = ::open(QFile::encodeName(path).constData(),
        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return QStringLiteral("cannot create %1: %2").arg(path, systemReason());
    const bool written = writeOut(fd, bytes.constData(), bytes.size()) && ::fsync(fd) == 0;
    const int code = errno;
    if (::close(fd) != 0 || !written)
        return QStringLiteral("cannot write %1: %2").arg(path, systemReason(written ? -1 : code));
    return QString();
}

QString SafeFile::save(const QString &path, const QByteArray &bytes)
{
    QString problem = replaceProblem(path);
    if (!problem.isEmpty())
        return problem;
    const QString temporary = path + QStringLiteral(".tmp");
    // A leftover of a run that was killed; a directory there is an error.
    problem = remove(temporary);
    if (problem.isEmpty())
        problem = writeNew(temporary, bytes);
    if (problem.isEmpty())
        problem = rename(temporary, path);
    if (!problem.isEmpty()) {
        ::unlink(QFile::encodeName(temporary).constData());
        return problem;
    }
    syncFolder(QFileInfo(path).path());
    return QString();
}

QString SafeFile::commit(QSaveFile &file)
{
    errno = 0;
    if (!file.flush()) {
        // QFile has no reason for a write the system took only part of.
        const QString problem
            = QStringLiteral("cannot write %1: %2")
                  .arg(file.fileName(), errno != 0 ? systemReason() : file.errorString());
        file.cancelWriting();
        file.commit();
        return problem;
    }
    if (::fsync(file.handle()) != 0) {
        const QString problem
            = QStringLiteral("cannot write %1: %2").arg(file.fileName(), systemReason());
        file.cancelWriting();
        file.commit();
        return problem;
    }
    if (!file.commit())
        return QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString());
    return QString();
}

QString SafeFile::remove(const QString &path)
{
    struct stat status;
    const QByteArray name = QFile::encodeName(path);
    if (::lstat(name.constData(), &status) != 0)
        return errno == ENOENT ? QString()
                               : QStringLiteral("cannot remove %1: %2").arg(path, systemReason());
    if (S_ISDIR(status.st_mode))
        return QStringLiteral("cannot remove %1: %2").arg(path, describe(status.st_mode));
    if (::unlink(name.constData()) != 0 && errno != ENOENT)
        return QStringLiteral("cannot remove %1: %2").arg(path, systemReason());
    return QString();
}

QString SafeFile::rename(const QString &from, const QString &to)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return QString();
    return QStringLiteral("cannot rename %1 to %2: %3").arg(from, to, systemReason());
}

QString SafeFile::sync(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const QString problem = QStringLiteral("cannot write %1: %2").arg(path, systemReason());
        if (fd >= 0)
            ::close(fd);
        return problem;
    }
    ::close(fd);
    return QString();
}

bool SafeFile::syncFolder(const QString &folder)
{
    const int fd
        = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    if (!synced)
        qCWarning(lcZones).noquote() << "Cannot sync the folder" << folder << systemReason();
    if (fd >= 0)
        ::close(fd);
    return synced;
}
