#include "mainwindow.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QSettings>
#include <QVariant>
#include <initializer_list>

#include "ui_mainwindow.h"

#include "filedialogprovider.h"
#include "imagegraphicsview.h"
#include "importwindow.h"
#include "settingsstore.h"
#include "tableviewfile.h"

// The resources are compiled into a static library: register them explicitly.
// Q_INIT_RESOURCE must be used outside any namespace.
static void initKestrinResources()
{
    Q_INIT_RESOURCE(kestrin);
}

namespace {
const QString currentPathKey = QStringLiteral("currentPath");

QPixmap logo(const QString &resource, int width, int height)
{
    const QPixmap pixmap(resource);
    if (pixmap.isNull())
        return pixmap;
    return pixmap.scaled(width, height, Qt::KeepAspectRatio, Qt::FastTransformation);
}
} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::MainWindow>())
    , fileDialogs(std::make_unique<FileDialogProvider>())
{
    initKestrinResources();
    ui->setupUi(this);

    ui->la_version->setText(tr("Version 2.5.6"));
    setWindowTitle(tr("Kestrin"));
    showLogos();

    connect(ui->pb_videofile, &QPushButton::clicked, this, &MainWindow::set_filename_videofile);
    connect(ui->le_videofile, &QLineEdit::editingFinished, this,
        &MainWindow::filename_videofile_change);
    connect(ui->pb_Import, &QPushButton::clicked, this, &MainWindow::Import);
    connect(ui->pb_about, &QPushButton::clicked, this, &MainWindow::about);
    centralWidget()->setMouseTracking(true);

    imageView = new ImageGraphicsView(&geometry, ui->gv_video, this);

    for (QWidget *control : std::initializer_list<QWidget *> { ui->pb_play_pause, ui->pushButton_2,
             ui->pb_fast_forward, ui->pb_slow_forward, ui->pb_fast_reverse, ui->pb_slow_reverse,
             ui->pb_algo, ui->hs_frame, ui->pb_clearmask, ui->pb_savemask, ui->pb_cancelmask,
             ui->pb_cleararea, ui->pb_savearea, ui->pb_cancelarea, ui->pb_movebox, ui->pb_savebox,
             ui->pb_cancelbox, ui->cb_process_conf, ui->tv_result })
        control->setEnabled(false);
    ui->pb_Import->setEnabled(true);
    ui->la_mouse->setText(QString());

    fileTable = new TableViewFile(ui->tv_file, this, this);

    ui->stackedWidget->setCurrentWidget(ui->admin_page);

    lastDir = SettingsStore::open()->value(currentPathKey).toString();
    workingDir = lastDir;
    ui->le_videofile->setText(workingDir);
    filename_videofile_change();
}

MainWindow::~MainWindow()
{
    // A window destroyed while shown hands its focus away inside ~QWidget,
    // after the members here are gone ("editingFinished" of the path field,
    // for one): from now on no child may reach a slot of this window.
    for (QObject *child : findChildren<QObject *>())
        disconnect(child, nullptr, this, nullptr);
}

void MainWindow::setFileDialogs(std::unique_ptr<FileDialogProvider> dialogs)
{
    fileDialogs = std::move(dialogs);
}

void MainWindow::filename_videofile_change()
{
    fileTable->setDirectory(workingDir);
}

void MainWindow::set_filename_videofile()
{
    const QString chosen = fileDialogs->existingDirectory(lastDir);
    if (!chosen.isEmpty()) {
        workingDir = chosen;
        lastDir = workingDir;
        SettingsStore::open()->setValue(currentPathKey, lastDir);
        ui->le_videofile->setText(workingDir);
    }
    filename_videofile_change();
}

void MainWindow::Import()
{
    {
        // A chain still running when the dialog closes carries on by itself.
        ImportWindow dialog(workingDir);
        dialog.exec();
    }
    fileTable->setDirectory(workingDir);
}

void MainWindow::about()
{
    QMessageBox box;
    box.setWindowTitle(tr("About Kestrin"));
    box.setIconPixmap(windowIcon().pixmap(64, 64));
    box.setText(tr("Version 2.5.6 25/08/2015\n"
                   "Kestrin counts small flying insects in recorded video.\n"
                   "Made by Tolvane with Qorel.\n"
                   "For support, please contact Tolvane."));
    box.exec();
}

void MainWindow::on_pushButton_2_clicked()
{
    // A cancelled dialog empties the target, which stops the saving.
    saveImageFile = fileDialogs->saveFileName(tr("Save as..."), QString(), tr("jpg (*.jpg)"));
    if (!saveImageFile.isEmpty())
        saveImage = true;
}

void MainWindow::showLogos()
{
    const QPixmap maker = logo(QStringLiteral(":/img/logo_tolvane_521x77.png"), 240, 40);
    if (!maker.isNull())
        ui->la_imgkrn->setPixmap(maker);
    const QPixmap partner = logo(QStringLiteral(":/img/logo_qorel.png"), 122, 48);
    if (!partner.isNull())
        ui->la_imgqorel->setPixmap(partner);
}

void MainWindow::showPicture(const cv::Mat &picture)
{
    imageView->showImage(picture, zoom, zoomX, zoomY, saveImage, saveImageFile);
}
