// kestrin-batch: the processing run of the window, without a window.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QStringList>

#include "batchoptions.h"
#include "batchrun.h"
#include "logging.h"
#include "scenes/demofolder.h"
#include "version.h"

namespace {

// Standard output that cannot take the text (a full disk, a closed pipe) is
// an error: nothing the caller asked for was printed.
int printed(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit() + '\n';
    if (std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout)
            == static_cast<size_t>(bytes.size())
        && std::fflush(stdout) == 0)
        return BatchRun::Done;
    std::fprintf(stderr, "kestrin-batch: error: cannot write to standard output: %s\n",
        std::strerror(errno));
    return BatchRun::Failed;
}

} // namespace

int main(int argc, char *argv[])
{
    kestrin::installMessagePattern();
    // A reader that went away is a write error to report, not a silent end
    // in the middle of a video.
    std::signal(SIGPIPE, SIG_IGN);
    QStringList raw;
    for (int i = 0; i < argc; ++i)
        raw << QString::fromLocal8Bit(argv[i]);
    // Painting the chart needs fonts, so a GUI application; it runs on the
    // minimal platform with the system's fonts whatever QT_QPA_PLATFORM says:
    // it shows nothing, so needs no display (xcb without one aborts), paints
    // the bytes the offscreen one does and, unlike it, frees its screen at
    // exit. Processing needs neither.
    std::unique_ptr<QCoreApplication> app;
    if (BatchOptions::wantsSummary(raw)) {
        qputenv("QT_QPA_PLATFORM", "minimal:enable_fonts");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("kestrin-batch"));
    QCoreApplication::setApplicationVersion(kestrin::version());

    const BatchOptions options = BatchOptions::parse(QCoreApplication::arguments());
    switch (options.action) {
    case BatchOptions::Action::Help:
    case BatchOptions::Action::Version:
        return printed(options.text);
    case BatchOptions::Action::MakeDemo: {
        const QString why = DemoFolder::make(options.demoDir);
        if (!why.isEmpty()) {
            std::fprintf(stderr, "kestrin-batch: error: %s\n", why.toLocal8Bit().constData());
            return BatchRun::Failed;
        }
        const QDir folder(options.demoDir);
        QStringList paths;
        for (const QString &name : DemoFolder::videoNames())
            paths << QDir::toNativeSeparators(folder.absoluteFilePath(name));
        return printed(paths.join(QLatin1Char('\n')));
    }
    case BatchOptions::Action::UsageError:
        std::fprintf(stderr, "kestrin-batch: %s\n", options.text.toLocal8Bit().constData());
        return BatchRun::Usage;
    case BatchOptions::Action::Run:
    case BatchOptions::Action::Summary:
        break;
    }
    if (options.quiet)
        QLoggingCategory::setFilterRules(QStringLiteral("kestrin.*.debug=false"));
    return BatchRun(options).exec();
}
