#include <QApplication>
#include <QIcon>

#include "logging.h"
#include "mainwindow.h"

int main(int argc, char *argv[])
{
    kestrin::installMessagePattern();
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
