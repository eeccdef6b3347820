#include "workingfolder.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QSettings>
#include <QStatusBar>
#include <QStringList>
#include <QVariant>

#include "importwindow.h"
#include "logging.h"
#include "settingsstore.h"
#include "tableviewfile.h"
#include "zones/outputset.h"

namespace {
const QString currentPathKey = QStringLiteral("currentPath");
} // namespace

WorkingFolder::WorkingFolder(
    QLineEdit *pathField, TableViewFile &table, QStatusBar *statusBar, QObject *parent)
    : QObject(parent)
    , field(pathField)
    , files(table)
    , status(statusBar)
    , dir(SettingsStore::open()->value(currentPathKey).toString())
{
    field->setText(dir);
}

bool WorkingFolder::usable() const
{
    return !dir.isEmpty() && QFileInfo(dir).isDir();
}

void WorkingFolder::choose(const QString &chosen)
{
    dir = chosen;
    SettingsStore::open()->setValue(currentPathKey, dir);
    field->setText(dir);
}

void WorkingFolder::relist()
{
    // A run killed while it renamed a video's files left them half
    // replaced: finished before the table says what is done.
    QStringList recovered;
    if (usable())
        recovered = OutputSet::recover(dir);
    for (const QString &line : recovered)
        qCWarning(lcGui).noquote() << line;
    files.setDirectory(dir);
    // Whatever was said about the previous folder is no longer true.
    status->clearMessage();
    if (dir.isEmpty())
        status->showMessage(tr("Choose a working directory with \"...\"."));
    else if (!QFileInfo(dir).isDir())
        status->showMessage(
            tr("The working directory %1 does not exist.").arg(QDir::toNativeSeparators(dir)));
    else if (files.filePath(0).isEmpty())
        status->showMessage(tr("%1 holds no .mp4 video.").arg(QDir::toNativeSeparators(dir)));
    else if (!recovered.isEmpty())
        status->showMessage(recovered.join(QStringLiteral("; ")));
}

void WorkingFolder::importVideos(FileDialogProvider *dialogs)
{
    // Without a working directory the videos would land in "/".
    if (!usable())
        return;
    {
        // A chain still running when the dialog closes carries on by itself.
        ImportWindow dialog(dir);
        dialog.setDialogs(dialogs);
        dialog.exec();
    }
    files.setDirectory(dir);
}
