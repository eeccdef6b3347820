#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// kestrin-batch run as a child process to its end, with what it printed.
class BatchProcess
{
public:
    struct Outcome
    {
        int status = -1; // -1: did not start, crashed or timed out
        QByteArray out;
        QByteArray err;
    };

    BatchProcess() = delete;

    // `standardOutput`, when given, is the file its output goes to.
    static Outcome run(const QString &program, const QStringList &arguments,
        const QString &workingDir = QString(), const QString &standardOutput = QString());
};
