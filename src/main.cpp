#include <QApplication>
#include <QIcon>
#include <QLoggingCategory>

#include "logging.h"
#include "mainwindow.h"

int main(int argc, char *argv[])
{
    kestrin::installMessagePattern();
    // The per-frame traces would fill the terminal on a long run; they come
    // back with QT_LOGGING_RULES, which overrides this.
    QLoggingCategory::setFilterRules(QStringLiteral("kestrin.*.debug=false"));
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tolvane"));
    QApplication::setApplicationName(QStringLiteral("Kestrin"));

    int code = 0;
    {
        // The window goes before the application object.
        MainWindow window;
        QApplication::setWindowIcon(window.windowIcon());
        window.show();
        code = app.exec();
    }
    return code;
}
