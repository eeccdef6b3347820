#pragma once

#include <QByteArray>
#include <QString>

class QFile;
class QSaveFile;

// How Kestrin touches every file it keeps beside the videos: only regular
// files are read or replaced, never through a symbolic link (a link in the
// way is replaced by the file itself), and a file is written under a
// temporary name, synced and renamed, so that it is complete or absent. Each
// failure comes back as a text naming the file and the system's reason.
class SafeFile
{
public:
    SafeFile() = delete;

    // The system's text for errno (or `code`).
    static QString systemReason(int code = -1);
    // What a file of st_mode `mode` is, as a reason: "it is a directory".
    static QString describe(unsigned int mode);
    // Anything at `path`, a dangling symbolic link included.
    static bool present(const QString &path);
    // Empty when a rename may put a file at `path`: nothing there, a
    // symbolic link, or a regular file that may be written. Else why not
    // ("cannot replace P: it is a directory").
    static QString replaceProblem(const QString &path);
    // Opens `path` read-only when it is a regular file (a link to one is
    // followed); a pipe or a device is refused without waiting on it.
    static bool openForReading(QFile &file, const QString &path, QString *error);

    // Writes `bytes` to "<path>.tmp", synced, and renames it over `path`;
    // the folder is synced. Empty on success, else the failure (the
    // temporary file is then removed and `path` left as it was).
    static QString save(const QString &path, const QByteArray &bytes);
    // Creates `path` anew, never through a link left in its place, with all of
    // `bytes`, on disk before it returns. Empty or the failure.
    static QString writeNew(const QString &path, const QByteArray &bytes);
    // Writes all of `size` bytes to `fd`, whatever the system takes per call;
    // false with errno telling why (unlike QFile, which loses the reason of
    // a write that stops halfway).
    static bool writeOut(int fd, const char *data, qint64 size);
    // For a QSaveFile: flushes, checks, syncs and commits, so that no write
    // error of the last flush goes unseen. Empty or the failure.
    static QString commit(QSaveFile &file);

    // Removes `path` (a file or a link; absence is no error). Empty or the failure.
    static QString remove(const QString &path);
    static QString rename(const QString &from, const QString &to);
    // Syncs the file at `path` (a regular file) to disk. Empty or the failure.
    static QString sync(const QString &path);
    static bool syncFolder(const QString &folder);
};
