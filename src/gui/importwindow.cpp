#include "importwindow.h"

#include <memory>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHash>
#include <QProgressBar>
#include <QSet>
#include <QSettings>

#include "ui_importwindow.h"

#include "filedialogprovider.h"
#include "logging.h"
#include "process_import.h"
#include "settingsstore.h"
#include "zones/videofiles.h"

namespace {

const QString kPathImport = QStringLiteral("PathImport");

// Destinations an import is running into, across all dialogs: two chains
// must never copy onto the same files at once. Used on the GUI thread only.
QSet<QString> &busyDestinations()
{
    static QSet<QString> busy;
    return busy;
}

QString destinationKey(const QString &path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

// An import whose dialog was destroyed while it ran (the main window deletes
// the dialog when it closes) goes on here, one worker at a time like the
// dialog's own chain, and frees its destination after the last file.
struct DetachedImport
{
    QString destination;
    QString key;
    QStringList rest;
    std::unique_ptr<Process_Import> worker;
};

void advance(const std::shared_ptr<DetachedImport> &import);

void watch(const std::shared_ptr<DetachedImport> &import)
{
    QObject::connect(import->worker.get(), &QThread::finished, QCoreApplication::instance(),
        [import] { advance(import); });
}

void startNext(const std::shared_ptr<DetachedImport> &import)
{
    if (import->rest.isEmpty()) {
        busyDestinations().remove(import->key);
        return;
    }
    import->worker
        = std::make_unique<Process_Import>(import->destination, import->rest.takeFirst());
    watch(import);
    import->worker->start();
}

// Runs when a worker's thread has ended, and possibly once more for it.
void advance(const std::shared_ptr<DetachedImport> &import)
{
    if (!import->worker || !import->worker->isFinished())
        return;
    // Released after the signal that brought us here has been delivered.
    import->worker.release()->deleteLater();
    startNext(import);
}

void detach(const std::shared_ptr<DetachedImport> &import)
{
    watch(import);
    // The worker may have ended before anyone watched its finished signal.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [import] { advance(import); }, Qt::QueuedConnection);
    // Quitting lets the file in hand finish; the rest stays where it is.
    const std::weak_ptr<DetachedImport> weak = import;
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
        QCoreApplication::instance(), [weak] {
            if (const auto running = weak.lock()) {
                running->rest.clear();
                running->worker.reset();
                busyDestinations().remove(running->key);
            }
        });
}

} // namespace

ImportWindow::ImportWindow(const QString &destination, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::ImportWindow>())
    , destination(destination)
{
    ui->setupUi(this);
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
    if (!worker)
        return;
    worker->disconnect(this);
    auto import = std::make_shared<DetachedImport>();
    import->destination = destination;
    import->key = busyKey;
    import->rest = files.mid(nextIndex);
    import->worker = std::move(worker);
    qCDebug(lcGui) << "Import goes on without its dialog:" << import->rest.size() + 1
                   << "files left";
    detach(import);
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
    if (worker)
        return;
    if (busyDestinations().contains(destinationKey(destination))) {
        qCWarning(lcGui) << "An import into" << destination << "is still running";
        return;
    }
    scanFolder();
    ui->pb_file->setValue(0);
    nextIndex = 0;
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
    busyKey = destinationKey(destination);
    busyDestinations().insert(busyKey);
    ui->pb_Import->setEnabled(false);
    startWorker();
}

void ImportWindow::Close()
{
    close();
}

void ImportWindow::end_thread()
{
    if (!worker)
        return;
    // end_thread is the worker's last act: its thread is ending, and the
    // worker's destructor waits for that.
    worker.reset();
    ui->pb_file->setValue(nextIndex);
    ui->pb_Encode->setValue(0);
    ui->pb_Save->setValue(0);
    ui->pb_Copy->setValue(0);
    if (nextIndex >= files.size()) {
        finishImport();
        close();
        return;
    }
    startWorker();
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
    return QFileInfo(source).baseName() + QStringLiteral(".mp4");
}

bool ImportWindow::namesAreDistinct()
{
    QHash<QString, QString> sourceOf;
    for (const QString &file : qAsConst(files)) {
        const QString target = targetName(file);
        const auto earlier = sourceOf.constFind(target);
        if (earlier == sourceOf.constEnd()) {
            sourceOf.insert(target, file);
            continue;
        }
        // One would overwrite the other in the middle of the import.
        const QString text
            = tr("%1 and %2 would both be imported as %3. Rename one of them, "
                 "then import again.")
                  .arg(QFileInfo(*earlier).fileName(), QFileInfo(file).fileName(), target);
        showCurrent(text);
        dialogs().warning(this, tr("Import"), text);
        return false;
    }
    return true;
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
            const QString question
                = tr("%1 is already in the working directory and has counts. Replace it with %2? "
                     "Its counts, boxes, trajectory and run record are moved to exportCSV/%3/.")
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

void ImportWindow::startWorker()
{
    const QString &file = files.at(nextIndex);
    showCurrent(file);
    worker = std::make_unique<Process_Import>(destination, file);
    connect(worker.get(), &Process_Import::end_thread, this, &ImportWindow::end_thread,
        Qt::QueuedConnection);
    connect(worker.get(), &Process_Import::copy_pos, this, &ImportWindow::copy_pos,
        Qt::QueuedConnection);
    connect(worker.get(), &Process_Import::save_pos, this, &ImportWindow::save_pos,
        Qt::QueuedConnection);
    connect(worker.get(), &Process_Import::encode_pos, this, &ImportWindow::encode_pos,
        Qt::QueuedConnection);
    worker->start();
    ++nextIndex;
}

void ImportWindow::finishImport()
{
    busyDestinations().remove(busyKey);
    busyKey.clear();
    ui->pb_Import->setEnabled(true);
}
