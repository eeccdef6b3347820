// kestrin-batch: the processing run of the window, without a window.

#include <csignal>
#include <cstdio>

#include <QCoreApplication>
#include <QLoggingCategory>

#include "batchoptions.h"
#include "batchrun.h"
#include "logging.h"

int main(int argc, char *argv[])
{
    kestrin::installMessagePattern();
    // A reader that went away is a write error to report, not a silent end
    // in the middle of a video.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kestrin-batch"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KESTRIN_VERSION));

    const BatchOptions options = BatchOptions::parse(QCoreApplication::arguments());
    switch (options.action) {
    case BatchOptions::Action::Help:
    case BatchOptions::Action::Version:
        std::printf("%s\n", options.text.toLocal8Bit().constData());
        return BatchRun::Done;
    case BatchOptions::Action::UsageError:
        std::fprintf(stderr, "kestrin-batch: %s\n", options.text.toLocal8Bit().constData());
        return BatchRun::Usage;
    case BatchOptions::Action::Run:
        break;
    }
    if (options.quiet)
        QLoggingCategory::setFilterRules(QStringLiteral("kestrin.*.debug=false"));
    return BatchRun(options).exec();
}
