#include "importwindow.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QProgressBar>
#include <QSettings>

#include "ui_importwindow.h"

#include "filedialogprovider.h"
#include "importqueue.h"
#include "logging.h"
#include "process_import.h"
#include "settingsstore.h"
#include "zones/videofiles.h"

namespace {

const QString kPathImport = QStringLiteral("PathImport");

} // namespace

ImportWindow::ImportWindow(const QString &destination, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::ImportWindow>())
    , destination(destination)
    , queue(new ImportQueue(destination, this))
{
    ui->setupUi(this);
    connect(queue, &ImportQueue::fileStarted, this, &ImportWindow::showCurrent);
    connect(queue, &ImportQueue::fileDone, this, &ImportWindow::end_thread);
    connect(queue, &ImportQueue::copyProgress, this, &ImportWindow::copy_pos);
    connect(queue, &ImportQueue::saveProgress, this, &ImportWindow::save_pos);
    connect(queue, &ImportQueue::encodeProgress, this, &ImportWindow::encode_pos);
    connect(ui->pb_videofile, &QPushButton::clicked, this, &ImportWindow::set_filename_videofile);
    connect(ui->pb_Import, &QPushButton::clicked, this, &ImportWindow::Import);
    connect(ui->pb_Close, &QPushButton::clicked, this, &ImportWindow::Close);
    for (QProgressBar *bar : { ui->pb_file, ui->pb_Copy, ui->pb_Encode, ui->pb_Save }) {
        bar->setRange(0, 100);
        bar->setValue(0);
    }
    folder = SettingsStore::open()->value(kPathImport).toString();
    ui->le_videofile->setText(folder);
    scanFolder();
    showList();
}

ImportWindow::~ImportWindow()
{
    if (!queue->isRunning())
        return;
    queue->disconnect(this);
    qCDebug(lcGui) << "Import goes on without its dialog:" << files.size() - queue->done()
                   << "files left";
    queue->detach();
}

void ImportWindow::set_filename_videofile()
{
    QFileDialog chooser;
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOption(QFileDialog::ShowDirsOnly, true);
    chooser.setViewMode(QFileDialog::Detail);
    chooser.setDirectory(folder);
    if (chooser.exec() != QDialog::Accepted)
        return;
    const QStringList chosen = chooser.selectedFiles();
    if (chosen.isEmpty())
        return;
    folder = chosen.first();
    SettingsStore::open()->setValue(kPathImport, folder);
    ui->le_videofile->setText(folder);
    scanFolder();
    showList();
}

void ImportWindow::Import()
{
    // "Import" is disabled while this dialog imports; this covers other callers.
    if (queue->isRunning())
        return;
    if (queue->destinationBusy()) {
        qCWarning(lcGui) << "An import into" << destination << "is still running";
        return;
    }
    scanFolder();
    ui->pb_file->setValue(0);
    const bool refused = !files.isEmpty() && !namesAreDistinct();
    if (refused)
        files.clear();
    else
        askBeforeReplacing();
    if (files.isEmpty()) {
        // A maximum of 0 would make the bar busy for ever.
        ui->pb_file->setMaximum(1);
        if (!refused) {
            showCurrent(folder.isEmpty()
                    ? tr("Nothing to import: choose a folder with \"...\".")
                    : tr("Nothing to import from %1.").arg(QDir::toNativeSeparators(folder)));
        }
        return;
    }
    ui->pb_file->setMaximum(files.size());
    ui->pb_Import->setEnabled(false);
    queue->start(files);
}

void ImportWindow::Close()
{
    close();
}

void ImportWindow::end_thread()
{
    ui->pb_file->setValue(queue->done());
    ui->pb_Encode->setValue(0);
    ui->pb_Save->setValue(0);
    ui->pb_Copy->setValue(0);
    if (!queue->isRunning()) {
        ui->pb_Import->setEnabled(true);
        close();
    }
}

void ImportWindow::copy_pos(int value)
{
    ui->pb_Copy->setValue(value);
}

void ImportWindow::save_pos(int value)
{
    ui->pb_Save->setValue(value);
}

void ImportWindow::encode_pos(int value)
{
    ui->pb_Encode->setValue(value);
}

void ImportWindow::scanFolder()
{
    files.clear();
    // QDir("") would be the current directory: no folder chosen lists nothing.
    if (folder.isEmpty())
        return;
    const QStringList names = QDir(folder).entryList(
        { QStringLiteral("*.mp4"), QStringLiteral("*.avi"), QStringLiteral("*.h264") },
        QDir::Files | QDir::NoSymLinks, QDir::Unsorted);
    for (const QString &name : names)
        files.append(folder + QLatin1Char('/') + name);
}

void ImportWindow::showCurrent(const QString &text)
{
    // A long path or message is cut by the label: the tip shows it whole.
    ui->la_currentfile->setText(text);
    ui->la_currentfile->setToolTip(text);
}

void ImportWindow::setDialogs(FileDialogProvider *dialogs)
{
    dialogProvider = dialogs;
}

FileDialogProvider &ImportWindow::dialogs()
{
    if (dialogProvider)
        return *dialogProvider;
    if (!ownDialogs)
        ownDialogs = std::make_unique<FileDialogProvider>();
    return *ownDialogs;
}

QString ImportWindow::targetName(const QString &source)
{
    return ImportQueue::targetName(source);
}

bool ImportWindow::namesAreDistinct()
{
    const auto same = ImportQueue::collision(files);
    if (!same)
        return true;
    // One would overwrite the other in the middle of the import.
    const QString text = tr("%1 and %2 would both be imported as %3. Rename one of them, "
                            "then import again.")
                             .arg(QFileInfo(same->first).fileName(),
                                 QFileInfo(same->second).fileName(), targetName(same->second));
    showCurrent(text);
    dialogs().warning(this, tr("Import"), text);
    return false;
}

void ImportWindow::askBeforeReplacing()
{
    QStringList kept;
    for (const QString &file : qAsConst(files)) {
        const QString target = destination + QLatin1Char('/') + targetName(file);
        const QFileInfo existing(target);
        const bool inPlace = existing.exists()
            && existing.canonicalFilePath() == QFileInfo(file).canonicalFilePath();
        if (existing.exists() && !inPlace && Process_Import::hasResults(target)) {
            const QString aside = QDir(VideoFiles::exportDir(target))
                                      .relativeFilePath(VideoFiles::replacedDir(
                                          target, QDateTime::currentDateTime()));
            const QString question = tr(
                "%1 is already in the working directory and has counts. Replace it with %2? "
                "Its counts, review, boxes, trajectory and run record are moved to exportCSV/%3/.")
                                         .arg(targetName(file), QFileInfo(file).fileName(), aside);
            if (!dialogs().question(this, tr("Import"), question))
                continue;
        }
        kept << file;
    }
    files = kept;
}

void ImportWindow::showList()
{
    ui->lw_filevideo->clear();
    ui->lw_filevideo->addItems(files);
}
