#include <cstdio>
#include <cstring>
#include <memory>

#include <QApplication>
#include <QIcon>
#include <QLoggingCategory>
#include <QSettings>
#include <QStandardPaths>

#include "firststart.h"
#include "logging.h"
#include "mainwindow.h"
#include "settingsstore.h"
#include "version.h"

namespace {

const char help[] = "Usage: kestrin [Qt options]\n"
                    "Counts small flying insects in recorded video: choose a working directory, "
                    "draw the\ncounting and tracking boxes on a video, press \"Process\".\n"
                    "\n"
                    "Options:\n"
                    "  -h, --help     Displays help on commandline options.\n"
                    "  -v, --version  Displays version information.\n"
                    "\n"
                    "On the first start the window opens on demonstration videos made in the "
                    "user's data\nfolder. kestrin-batch(1) processes videos without a window.\n";

// Answered before the application object exists, so that they need no
// display.
bool answersAlone(int argc, char *argv[], int &code)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(help, stdout);
        } else if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
            std::printf("kestrin %s\n", qUtf8Printable(kestrin::version()));
        } else {
            continue;
        }
        code = std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    int code = 0;
    if (answersAlone(argc, argv, code))
        return code;

    kestrin::installMessagePattern();
    // The per-frame traces would fill the terminal on a long run; they come
    // back with QT_LOGGING_RULES, which overrides this.
    QLoggingCategory::setFilterRules(QStringLiteral("kestrin.*.debug=false"));
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tolvane"));
    QApplication::setApplicationName(QStringLiteral("Kestrin"));
    QApplication::setApplicationVersion(kestrin::version());

    {
        const std::unique_ptr<QSettings> settings = SettingsStore::open();
        const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        if (!data.isEmpty())
            FirstStart::useDemoWhenNew(*settings, data + QStringLiteral("/demo"));
    }

    {
        // The window goes before the application object.
        MainWindow window;
        QApplication::setWindowIcon(window.windowIcon());
        window.show();
        code = app.exec();
    }
    return code;
}
