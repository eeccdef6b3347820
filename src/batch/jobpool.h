#pragma once

#include <functional>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Runs one program over a list of argument lists, at most `parallel` at a
// time, in list order. Output is handed on in whole lines, so that lines of
// two children never mix.
class JobPool
{
public:
    using Output = std::function<void(const QByteArray &lines)>;
    // exitStatus: the child's, or 1 when it could not start or crashed, with
    // `problem` saying which.
    using Finished = std::function<void(int job, int exitStatus, const QString &problem)>;
    // Polled a few times per second: a signal number asks to stop. The
    // signal is then passed on to every running child, no further job
    // starts, and run() returns once the running ones have ended.
    using StopRequest = std::function<int()>;

    JobPool(const QString &program, int parallel);

    // Returns when every started job has ended. Children end with their
    // parent: Linux sends them SIGTERM when it dies.
    void run(const QList<QStringList> &jobs, const Output &standardOutput,
        const Output &standardError, const Finished &finished,
        const StopRequest &stopRequest = StopRequest()) const;

private:
    QString program;
    int parallel;
};
