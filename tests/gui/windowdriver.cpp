#include "windowdriver.h"

#include <QFileInfo>
#include <QLabel>
#include <QSettings>
#include <QTableView>
#include <QTest>

#include "mainwindow.h"
#include "settingsstore.h"

namespace windowdriver {

std::unique_ptr<MainWindow> showWindowOn(const QString &workingDir, CancelledDialogs **dialogs)
{
    SettingsStore::open()->setValue(QStringLiteral("currentPath"), workingDir);
    auto window = std::make_unique<MainWindow>();
    auto answers = std::make_unique<CancelledDialogs>();
    if (dialogs)
        *dialogs = answers.get();
    window->setFileDialogs(std::move(answers));
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        return nullptr;
    return window;
}

bool selectVideo(MainWindow &window, const QString &path)
{
    auto *files = window.findChild<QTableView *>(QStringLiteral("tv_file"));
    const QString name = QFileInfo(path).completeBaseName();
    for (int row = 0; files && row < files->model()->rowCount(); ++row) {
        const QModelIndex index = files->model()->index(row, 0);
        if (index.data().toString() != name)
            continue;
        QTest::mouseClick(
            files->viewport(), Qt::LeftButton, Qt::NoModifier, files->visualRect(index).center());
        return files->currentIndex().row() == row
            && window.findChild<QLabel *>(QStringLiteral("la_file_selected"))->text() == path;
    }
    return false;
}

} // namespace windowdriver
