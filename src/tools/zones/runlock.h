#pragma once

#include <QString>

// The lock that makes one run at a time work on a video's files:
// exportCSV/<base>.lock, a regular file holding "<pid>\n<program>\n<host>\n"
// and flock()ed by its holder for as long as it is held. A lock whose file
// nobody holds is stale when it names this host (the process named is gone,
// even if its number now belongs to another), or no process at all (empty or
// damaged): take() takes it over and says so in note(). A directory, a link
// or a pipe in its place is an error.
class RunLock
{
public:
    enum class Take {
        Taken,
        Busy, // another run holds it: error() names its process and host
        Failed, // error() names the file and the reason
    };

    RunLock() = default;
    ~RunLock(); // releases
    RunLock(const RunLock &) = delete;
    RunLock &operator=(const RunLock &) = delete;

    Take take(const QString &path);
    // Removes the lock file and lets go of it.
    void release();
    bool held() const { return fd >= 0; }
    // Held, and still the file at its name: false once someone removed or
    // replaced it (a second run may then have taken the video).
    bool intact() const;

    const QString &error() const { return problem; }
    // Set when take() took over a stale lock: whose, and why it was stale.
    const QString &note() const { return takenOver; }

private:
    Take busy(int holder);

    QString lockPath;
    int fd = -1;
    QString problem;
    QString takenOver;
};
