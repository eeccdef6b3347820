#include "batchprocess.h"

#include <QProcess>
#include <QProcessEnvironment>

BatchProcess::Outcome BatchProcess::run(const QString &program, const QStringList &arguments,
    const QString &workingDir, const QString &standardOutput)
{
    QProcess process;
    // The program loads no Qt platform plugin, whose leaks need the slow
    // unwinder to match their suppressions; the fast one keeps it quick under
    // ASan.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QString asan = environment.value(QStringLiteral("ASAN_OPTIONS"));
    asan.replace(
        QLatin1String("fast_unwind_on_malloc=0"), QLatin1String("fast_unwind_on_malloc=1"));
    environment.insert(QStringLiteral("ASAN_OPTIONS"), asan);
    process.setProcessEnvironment(environment);
    if (!workingDir.isEmpty())
        process.setWorkingDirectory(workingDir);
    if (!standardOutput.isEmpty())
        process.setStandardOutputFile(standardOutput);
    process.start(program, arguments);
    Outcome outcome;
    if (!process.waitForStarted(10000) || !process.waitForFinished(120000)
        || process.exitStatus() != QProcess::NormalExit)
        return outcome;
    outcome.status = process.exitCode();
    outcome.out = process.readAllStandardOutput();
    outcome.err = process.readAllStandardError();
    return outcome;
}
