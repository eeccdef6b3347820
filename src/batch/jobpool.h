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

    JobPool(const QString &program, int parallel);

    // Returns when every job has ended.
    void run(const QList<QStringList> &jobs, const Output &standardOutput,
        const Output &standardError, const Finished &finished) const;

private:
    QString program;
    int parallel;
};
