// Frames per second of the window's "Process" on one video, as a user runs
// it: the video chosen in the file table, "only one file", "Process", until
// the button reads "Process" again. Runs on any Qt platform (offscreen in
// bench/run.sh); the user's settings are left alone.
//
//   QT_QPA_PLATFORM=offscreen kestrin-bench-window VIDEO

#include <cstdio>

#include <QAbstractItemModel>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include "mainwindow.h"
#include "run/processrun.h"
#include "settingsstore.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kestrin-bench-window VIDEO\n");
        return 2;
    }
    const QFileInfo video(QString::fromLocal8Bit(argv[1]));
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir settings;
    if (!settings.isValid())
        return 1;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    SettingsStore::open()->setValue(QStringLiteral("currentPath"), video.absolutePath());

    MainWindow window;
    window.show();
    auto *files = window.findChild<QTableView *>(QStringLiteral("tv_file"));
    auto *algo = window.findChild<QPushButton *>(QStringLiteral("pb_algo"));
    auto *mode = window.findChild<QComboBox *>(QStringLiteral("cb_process_conf"));
    if (!files || !algo || !mode) {
        std::fprintf(stderr, "kestrin-bench-window: the window has changed\n");
        return 1;
    }
    for (int row = 0; row < files->model()->rowCount(); ++row) {
        const QModelIndex index = files->model()->index(row, 0);
        if (index.data().toString() == video.completeBaseName())
            files->setCurrentIndex(index);
    }
    if (!algo->isEnabled()) {
        std::fprintf(stderr, "kestrin-bench-window: cannot process %s (boxes saved?)\n", argv[1]);
        return 1;
    }
    mode->setCurrentIndex(ProcessRun::One);

    QElapsedTimer clock;
    int status = 1;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &app, [&] {
        if (algo->text() == QLatin1String("Process")) {
            status = 0;
            app.quit();
        }
    });
    QTimer::singleShot(0, &app, [&] {
        clock.start();
        algo->click();
        watch.start(5);
    });
    app.exec();
    std::printf("processed in %.2f s\n", clock.nsecsElapsed() / 1e9);
    return status;
}
