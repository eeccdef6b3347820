#include "jobpool.h"

#include <csignal>
#include <memory>
#include <vector>

#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <sys/prctl.h>
#include <unistd.h>

namespace {

// A child that gets SIGTERM when the process that started it dies, killed
// or not, so that no run goes on writing unattended.
class ChildProcess final : public QProcess
{
public:
    ChildProcess()
        : parent(::getpid())
    {
    }

protected:
    void setupChildProcess() override
    {
        // In the child between fork and exec: only async-signal-safe calls.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(1); // the parent died before the line above
    }

private:
    pid_t parent;
};

// Hands on the complete lines of `buffer`, keeping a started one.
void forwardLines(QByteArray &buffer, const JobPool::Output &output, bool all)
{
    const int end = all ? buffer.size() : buffer.lastIndexOf('\n') + 1;
    if (end <= 0)
        return;
    QByteArray lines = buffer.left(end);
    if (!lines.endsWith('\n'))
        lines.append('\n');
    buffer.remove(0, end);
    output(lines);
}

struct Child
{
    std::unique_ptr<QProcess> process;
    QByteArray out;
    QByteArray err;
    bool ended = false;
};

} // namespace

JobPool::JobPool(const QString &program, int parallel)
    : program(program)
    , parallel(parallel < 1 ? 1 : parallel)
{
}

void JobPool::run(const QList<QStringList> &jobs, const Output &standardOutput,
    const Output &standardError, const Finished &finished, const StopRequest &stopRequest) const
{
    if (jobs.isEmpty())
        return;
    QEventLoop loop;
    std::vector<Child> children(static_cast<size_t>(jobs.size()));
    int started = 0;
    int running = 0;
    int ended = 0;
    int stopSignal = 0;

    std::function<void()> startMore;
    const auto end = [&](int job, int status, const QString &problem) {
        Child &child = children[static_cast<size_t>(job)];
        if (child.ended)
            return;
        child.ended = true;
        child.out += child.process->readAllStandardOutput();
        child.err += child.process->readAllStandardError();
        forwardLines(child.out, standardOutput, true);
        forwardLines(child.err, standardError, true);
        finished(job, status, problem);
        --running;
        ++ended;
        // Queued: the process object may still be inside its own signal.
        QMetaObject::invokeMethod(&loop, startMore, Qt::QueuedConnection);
    };

    startMore = [&]() {
        while (stopSignal == 0 && running < parallel && started < jobs.size()) {
            const int job = started++;
            Child &child = children[static_cast<size_t>(job)];
            child.process = std::make_unique<ChildProcess>();
            QProcess *process = child.process.get();
            QObject::connect(process, &QProcess::readyReadStandardOutput, &loop, [&, job] {
                Child &c = children[static_cast<size_t>(job)];
                c.out += c.process->readAllStandardOutput();
                forwardLines(c.out, standardOutput, false);
            });
            QObject::connect(process, &QProcess::readyReadStandardError, &loop, [&, job] {
                Child &c = children[static_cast<size_t>(job)];
                c.err += c.process->readAllStandardError();
                forwardLines(c.err, standardError, false);
            });
            QObject::connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
                &loop, [&, job](int code, QProcess::ExitStatus how) {
                    if (how == QProcess::CrashExit)
                        end(job, 1, QStringLiteral("crashed"));
                    else
                        end(job, code, QString());
                });
            // A program that fails to start emits no finished.
            QObject::connect(
                process, &QProcess::errorOccurred, &loop, [&, job](QProcess::ProcessError e) {
                    if (e == QProcess::FailedToStart)
                        end(job, 1,
                            QStringLiteral("cannot start %1: %2")
                                .arg(program,
                                    children[static_cast<size_t>(job)].process->errorString()));
                });
            ++running;
            process->start(program, jobs[job]);
        }
        if (ended == started && (stopSignal != 0 || started == jobs.size()))
            loop.quit();
    };

    QTimer stopPoll;
    if (stopRequest) {
        QObject::connect(&stopPoll, &QTimer::timeout, &loop, [&] {
            if (stopSignal != 0)
                return;
            stopSignal = stopRequest();
            if (stopSignal == 0)
                return;
            for (const Child &child : children) {
                if (child.process && !child.ended && child.process->processId() > 0)
                    ::kill(static_cast<pid_t>(child.process->processId()), stopSignal);
            }
            QMetaObject::invokeMethod(&loop, startMore, Qt::QueuedConnection);
        });
        stopPoll.start(50);
    }

    QMetaObject::invokeMethod(&loop, startMore, Qt::QueuedConnection);
    loop.exec();
    for (Child &child : children) {
        if (child.process && child.process->state() != QProcess::NotRunning)
            child.process->waitForFinished(-1);
    }
}
