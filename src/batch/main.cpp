// kestrin-batch: the processing run of the window, without a window.

#include <cstdio>
#include <memory>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QStringList>

#include "batchoptions.h"
#include "batchrun.h"
#include "logging.h"

int main(int argc, char *argv[])
{
    kestrin::installMessagePattern();
    QStringList raw;
    for (int i = 0; i < argc; ++i)
        raw << QString::fromLocal8Bit(argv[i]);
    // Painting the chart needs fonts, so a GUI application; it runs without a
    // display on the offscreen platform. Processing needs neither.
    std::unique_ptr<QCoreApplication> app;
    if (BatchOptions::wantsSummary(raw)) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
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
    case BatchOptions::Action::Summary:
        break;
    }
    if (options.quiet)
        QLoggingCategory::setFilterRules(QStringLiteral("kestrin.*.debug=false"));
    return BatchRun(options).exec();
}
