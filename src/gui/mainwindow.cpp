#include "mainwindow.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <limits>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QBoxLayout>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QVariant>

#include "ui_mainwindow.h"

#include "filedialogprovider.h"
#include "graphicsviewmouse.h"
#include "imagegraphicsview.h"
#include "imagewindow.h"
#include "importwindow.h"
#include "logging.h"
#include "reviewwindow.h"
#include "settingsstore.h"
#include "summarywindow.h"
#include "tableviewfile.h"
#include "tableviewresult.h"
#include "version.h"
#include "zones/outputset.h"
#include "zones/resultfile.h"
#include "zones/videofiles.h"
#include "zones/videoreview.h"

// The resources are compiled into a static library: register them explicitly.
// Q_INIT_RESOURCE must be used outside any namespace.
static void initKestrinResources()
{
    Q_INIT_RESOURCE(kestrin);
}

namespace {
const QString currentPathKey = QStringLiteral("currentPath");
const QString saveTracksKey = QStringLiteral("saveTracks");
const QString countingKey = QStringLiteral("countingMethod");

// Playback stops this many frames before the frame count a video reports.
constexpr double endMargin = 5;
// AddResult appends while the list holds at most this many records.
constexpr int resultLimit = 2000;
// A processed frame's counts are appended, all of them, while the list holds
// at most this many.
constexpr int processResultLimit = 1999;
// Processing ticks as fast as the event loop allows, one frame per tick.
constexpr int processInterval = 1;
// Every frame is processed, but drawing and showing a large one costs as much
// as processing it: while processing, a frame is shown at most every this many ms.
constexpr qint64 displayPeriod = 200;
// Column of the file table that reads "Y" once a video has a count file.
constexpr int doneColumn = 2;
// The speed in the status bar is measured over this many frames, or this
// long when frames are slow.
constexpr int speedFrameSpan = 10;
constexpr qint64 speedPeriodMs = 500;
constexpr double defaultFps = 25.0;

// Cuts towards zero like a C cast, but a value out of range (a bogus frame
// count or size reported by the video) saturates instead of being undefined.
int cutToInt(double value)
{
    if (std::isnan(value))
        return 0;
    const double cut = std::clamp(value, static_cast<double>(std::numeric_limits<int>::min()),
        static_cast<double>(std::numeric_limits<int>::max()));
    return static_cast<int>(cut);
}

using Controls = std::initializer_list<QWidget *>;

void enable(bool enabled, std::initializer_list<Controls> groups)
{
    for (const Controls &group : groups) {
        for (QWidget *control : group)
            control->setEnabled(enabled);
    }
}

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
    // The form scrolls on a screen smaller than it (fitTo).
    QWidget *page = takeCentralWidget();
    page->setFixedSize(formWidth, formHeight - statusBar()->sizeHint().height());
    pageArea = new QScrollArea(this);
    pageArea->setObjectName(QStringLiteral("sa_page"));
    pageArea->setFrameShape(QFrame::NoFrame);
    pageArea->setWidget(page);
    setCentralWidget(pageArea);
    fitTo(QRect(QPoint(0, 0), QSize(formWidth, formHeight) + QSize(100, 100)));

    ui->la_version->setText(tr("Version %1").arg(kestrin::version()));
    setWindowTitle(tr("Kestrin"));
    showLogos();

    connect(ui->pb_videofile, &QPushButton::clicked, this, &MainWindow::set_filename_videofile);
    connect(ui->le_videofile, &QLineEdit::editingFinished, this,
        &MainWindow::filename_videofile_change);
    connect(ui->pb_Import, &QPushButton::clicked, this, &MainWindow::Import);
    connect(ui->pb_play_pause, &QPushButton::clicked, this, &MainWindow::play_pause_video);
    connect(ui->pb_fast_forward, &QPushButton::clicked, this, &MainWindow::fast_forward);
    connect(ui->pb_slow_forward, &QPushButton::clicked, this, &MainWindow::slow_forward);
    connect(ui->pb_fast_reverse, &QPushButton::clicked, this, &MainWindow::fast_reverse);
    connect(ui->pb_slow_reverse, &QPushButton::clicked, this, &MainWindow::slow_reverse);
    connect(ui->pb_about, &QPushButton::clicked, this, &MainWindow::about);
    connect(ui->hs_frame, &QSlider::sliderMoved, this, &MainWindow::hs_frame_moved);
    connect(ui->pb_cleararea, &QPushButton::clicked, this, &MainWindow::cleararea);
    connect(ui->pb_savearea, &QPushButton::clicked, this, &MainWindow::savearea);
    connect(ui->pb_cancelarea, &QPushButton::clicked, this, &MainWindow::cancelarea);
    connect(ui->pb_clearmask, &QPushButton::clicked, this, &MainWindow::clearmask);
    connect(ui->pb_savemask, &QPushButton::clicked, this, &MainWindow::savemask);
    connect(ui->pb_cancelmask, &QPushButton::clicked, this, &MainWindow::cancelmask);
    connect(ui->pb_algo, &QPushButton::clicked, this, &MainWindow::algo);
    // Started when the first video is opened for viewing, then never stopped.
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &MainWindow::timeframe);
    ui->centralWidget->setMouseTracking(true);
    connect(ui->gv_video, &GraphicsViewMouse::sendMousePressVideo, this,
        &MainWindow::sendMousePressVideo);
    connect(ui->gv_video, &GraphicsViewMouse::sendMouseMoveVideo, this,
        &MainWindow::sendMouseMoveVideo);
    connect(ui->gv_video, &GraphicsViewMouse::sendMouseBClickVideo, this,
        &MainWindow::sendMouseBClickVideo);

    imageView = new ImageGraphicsView(&geometry, ui->gv_video, this);
    connect(imageView, &ImageGraphicsView::saveFailed, this,
        [this](const QString &file, const QString &reason) {
            statusBar()->showMessage(tr("The picture could not be saved to %1: %2")
                                         .arg(QDir::toNativeSeparators(file), reason));
        });

    enable(false,
        { { ui->pb_play_pause, ui->pushButton_2, ui->pb_fast_forward, ui->pb_slow_forward,
            ui->pb_fast_reverse, ui->pb_slow_reverse, ui->pb_algo, ui->hs_frame, ui->pb_clearmask,
            ui->pb_savemask, ui->pb_cancelmask, ui->pb_cleararea, ui->pb_savearea,
            ui->pb_cancelarea, ui->pb_movebox, ui->pb_savebox, ui->pb_cancelbox,
            ui->cb_process_conf, ui->tv_result } });
    ui->pb_Import->setEnabled(true);
    ui->la_mouse->setText(QString());

    resultTable = new TableViewResult(ui->tv_result, ui->te_error, this);
    connect(
        resultTable, &TableViewResult::Result_Row_Changed, this, &MainWindow::Result_Row_Changed);

    fileTable = new TableViewFile(ui->tv_file, this, this);
    connect(fileTable, &TableViewFile::File_Row_Changed, this, &MainWindow::File_Row_Changed);
    connect(&run.insectDetect(), &InsectDetect::Add_Insect_detected, this,
        &MainWindow::Add_Insect_detected);

    addResultControls();
    addCountingChoice();

    progressLabel = new QLabel(this);
    progressLabel->setObjectName(QStringLiteral("la_progress"));
    statusBar()->addPermanentWidget(progressLabel);
    processHint = new QLabel(this);
    processHint->setObjectName(QStringLiteral("la_process_hint"));
    statusBar()->addPermanentWidget(processHint);
    fileTable->setConfirmation([this](const QString &question) {
        return fileDialogs->question(this, tr("Delete"), question);
    });

    ui->stackedWidget->setCurrentWidget(ui->admin_page);
    addTips();
    orderTabs();
    updateProcessButton();

    lastDir = SettingsStore::open()->value(currentPathKey).toString();
    workingDir = lastDir;
    ui->le_videofile->setText(workingDir);
    filename_videofile_change();
}

MainWindow::~MainWindow()
{
    // The override cursor is application-wide: a window destroyed in the
    // middle of drawing a box must not leave the cross-hair behind.
    restoreCursor();
    // A window destroyed while shown hands its focus away inside ~QWidget,
    // after the members here are gone ("editingFinished" of the path field,
    // for one): from now on no child may reach a slot of this window.
    for (QObject *child : findChildren<QObject *>())
        disconnect(child, nullptr, this, nullptr);
}

void MainWindow::addCountingChoice()
{
    QWidget *beside = ui->cb_process_conf;
    cbCounting = new QComboBox(beside->parentWidget());
    cbCounting->setObjectName(QStringLiteral("cb_counting"));
    cbCounting->addItem(tr("Counting: classic"), CountingMethod::kindName(CountingMethod::Classic));
    cbCounting->addItem(tr("Counting: robust"), CountingMethod::kindName(CountingMethod::Robust));
    cbCounting->setToolTip(tr("classic: the counting method Kestrin has always used.\n"
                              "robust: no identity swaps between insects passing close, no "
                              "counts from insects hovering on the line, entries and exits "
                              "judged from the whole approach."));
    const int saved = cbCounting->findData(SettingsStore::open()->value(countingKey).toString());
    cbCounting->setCurrentIndex(std::max(saved, 0));
    connect(cbCounting, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
        [this] { SettingsStore::open()->setValue(countingKey, cbCounting->currentData()); });

    // In a layout, right after the processing choice; on a fixed form, in
    // the right half of its place.
    QBoxLayout *row = nullptr;
    if (QLayout *top = beside->parentWidget()->layout()) {
        QList<QLayout *> layouts { top };
        while (!layouts.isEmpty() && !row) {
            QLayout *layout = layouts.takeFirst();
            auto *box = qobject_cast<QBoxLayout *>(layout);
            if (box && box->indexOf(beside) >= 0)
                row = box;
            for (int i = 0; i < layout->count(); ++i) {
                if (QLayout *inner = layout->itemAt(i)->layout())
                    layouts.append(inner);
            }
        }
    }
    if (row) {
        row->insertWidget(row->indexOf(beside) + 1, cbCounting);
    } else {
        // Up to 4 px short of the button that follows on the form, each
        // choice wide enough for its longest item.
        const QRect place = beside->geometry();
        const int room = ui->pushButton_2->x() - 4 - place.x() - 4;
        const int first = beside->sizeHint().width();
        const int width = std::max(first + (room - first - cbCounting->sizeHint().width()) / 2, 0);
        beside->setGeometry(place.x(), place.y(), width, place.height());
        cbCounting->setGeometry(place.x() + width + 4, place.y(), room - width, place.height());
    }
    cbCounting->setEnabled(beside->isEnabled());
    beside->installEventFilter(this);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (cbCounting && watched == ui->cb_process_conf && event->type() == QEvent::EnabledChange)
        cbCounting->setEnabled(ui->cb_process_conf->isEnabled());
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::setFileDialogs(std::unique_ptr<FileDialogProvider> dialogs)
{
    fileDialogs = std::move(dialogs);
}

void MainWindow::filename_videofile_change()
{
    // A run killed while it renamed a video's files left them half
    // replaced: finished before the table says what is done.
    QStringList recovered;
    if (!workingDir.isEmpty() && QFileInfo(workingDir).isDir())
        recovered = OutputSet::recover(workingDir);
    for (const QString &line : recovered)
        qCWarning(lcGui).noquote() << line;
    fileTable->setDirectory(workingDir);
    ui->pb_Import->setEnabled(importAllowed());
    // Whatever was said about the previous folder is no longer true.
    statusBar()->clearMessage();
    if (workingDir.isEmpty())
        statusBar()->showMessage(tr("Choose a working directory with \"...\"."));
    else if (!QFileInfo(workingDir).isDir())
        statusBar()->showMessage(tr("The working directory %1 does not exist.")
                                     .arg(QDir::toNativeSeparators(workingDir)));
    else if (fileTable->filePath(0).isEmpty())
        statusBar()->showMessage(
            tr("%1 holds no .mp4 video.").arg(QDir::toNativeSeparators(workingDir)));
    else if (!recovered.isEmpty())
        statusBar()->showMessage(recovered.join(QStringLiteral("; ")));
    if (summaryWindow)
        summaryWindow->setFolder(workingDir);
}

void MainWindow::addResultControls()
{
    summaryButton = new QPushButton(tr("Summary"), ui->admin_page);
    summaryButton->setObjectName(QStringLiteral("pb_summary"));
    summaryButton->setGeometry(170, 610, 75, 23);
    connect(summaryButton, &QPushButton::clicked, this, &MainWindow::showSummary);
    reviewButton = new QPushButton(tr("Review"), ui->admin_page);
    reviewButton->setObjectName(QStringLiteral("pb_review"));
    reviewButton->setGeometry(190, 638, 60, 23);
    reviewButton->setToolTip(tr("Confirm or reject each event of the video shown"));
    connect(reviewButton, &QPushButton::clicked, this, &MainWindow::showReview);

    saveTracksBox = new QCheckBox(tr("Save tracks"), ui->admin_page);
    saveTracksBox->setObjectName(QStringLiteral("cb_savetracks"));
    saveTracksBox->setGeometry(60, 640, 130, 20);
    saveTracksBox->setToolTip(
        tr("Also write each processed video's tracks to exportCSV/<name>_tracks.csv, from the "
           "next \"Process\" on"));
    saveTracksBox->setChecked(SettingsStore::open()->value(saveTracksKey, false).toBool());
    connect(saveTracksBox, &QCheckBox::toggled, this,
        [](bool on) { SettingsStore::open()->setValue(saveTracksKey, on); });
}

void MainWindow::showSummary()
{
    if (!QFileInfo(workingDir).isDir()) {
        statusBar()->showMessage(workingDir.isEmpty()
                ? tr("Choose a working directory with \"...\" first.")
                : tr("The working directory %1 does not exist.")
                      .arg(QDir::toNativeSeparators(workingDir)));
        return;
    }
    if (!summaryWindow) {
        summaryWindow = new SummaryWindow(this);
        summaryWindow->setAttribute(Qt::WA_DeleteOnClose);
    }
    summaryWindow->setFolder(workingDir);
    summaryWindow->show();
    summaryWindow->raise();
    summaryWindow->activateWindow();
}

void MainWindow::showReview()
{
    if (!reviewWindow) {
        reviewWindow = new ReviewWindow(this);
        reviewWindow->setAttribute(Qt::WA_DeleteOnClose);
        reviewWindow->setFrameSource([this] { return position; });
        connect(reviewWindow, &ReviewWindow::reviewChanged, this, [this](const QString &video) {
            if (video == videoFile)
                markReviewed();
            if (summaryWindow)
                summaryWindow->scheduleRefresh();
        });
    }
    if (videoFile.isEmpty() || !reviewWindow->setVideo(videoFile)) {
        statusBar()->showMessage(tr("No counts to review: process the video first"));
        return;
    }
    reviewWindow->show();
    reviewWindow->raise();
    reviewWindow->activateWindow();
}

void MainWindow::markReviewed()
{
    // While processing, the list is of the run's new counts.
    if (videoCommand == ProcessFrame || videoCommand == NextFile)
        return;
    VideoReview review;
    QString problem;
    if (!review.open(videoFile, &problem) || review.events().size() != results.size())
        return;
    QVector<ReviewFile::Decision> decisions;
    for (int i = 0; i < results.size(); ++i)
        decisions.append(review.decision(i));
    resultTable->markDecisions(decisions);
}

void MainWindow::reportWriteErrors()
{
    if (run.writeErrors().isEmpty())
        return;
    const QString text = tr("Cannot write %1").arg(run.writeErrors().join(QStringLiteral("; ")));
    qCWarning(lcGui).noquote() << text;
    statusBar()->showMessage(text);
}

void MainWindow::set_filename_videofile()
{
    // A cancelled dialog, or a box kept, leaves the open video and the table
    // as they were.
    const QString chosen = fileDialogs->existingDirectory(lastDir);
    if (chosen.isEmpty()
        || !dropEditing(tr("open the folder %1").arg(QDir::toNativeSeparators(chosen))))
        return;
    ModeVideo(ModeClosed);
    workingDir = chosen;
    lastDir = workingDir;
    SettingsStore::open()->setValue(currentPathKey, lastDir);
    ui->le_videofile->setText(workingDir);
    filename_videofile_change();
}

void MainWindow::timeframe()
{
    // The commands are tested in this order; a step command ends as Pause, so
    // its frame is drawn by the Pause redraw of the same tick.
    if (videoCommand == Seek) {
        // The slider's value stays the position even when nothing is read.
        if (position >= 0 && position < endFrame - 1 && readPictureAt(position))
            keepPicture();
        endStep();
    }
    if (videoCommand == SlowForward) {
        if (endFrame > position && readPicture()) {
            keepPicture();
            position += 1;
        }
        endStep();
    }
    if (videoCommand == FastForward) {
        // Seeks rather than decoding ten frames in one tick.
        if (endFrame > position + 10 && readPictureAt(position + 10)) {
            keepPicture();
            position += 10;
        }
        endStep();
    }
    if (videoCommand == SlowReverse) {
        if (position >= 1 && readPictureAt(position - 1)) {
            keepPicture();
            position -= 1;
        }
        endStep();
    }
    if (videoCommand == FastReverse) {
        if (position >= 10 && readPictureAt(position - 10)) {
            keepPicture();
            position -= 10;
        }
        endStep();
    }
    if (videoCommand == ShowResult) {
        // Result_Row_Changed has moved the capture already.
        if (readPicture())
            keepPicture();
        endStep();
    }
    // Goes on in the same tick with the command it sets: the first frame of
    // a video is processed at once, the reopened video redrawn.
    if (videoCommand == NextFile)
        nextFile();
    if (videoCommand == Play && endFrame > position) {
        if (readPicture()) {
            keepPicture();
            position += 1;
            showPicture(picture);
        } else {
            showFrame();
        }
    }
    if (videoCommand == Pause) {
        showFrame();
        // Drawn: nothing to do until something changes and wakes the timer.
        timer->stop();
    }
    if (videoCommand == ProcessFrame)
        processFrame();

    // Every tick ends here, whatever its command.
    ui->la_Num_Frame->setText(QString::number(position, 'g', 6));
    ui->hs_frame->setValue(cutToInt(position));
}

void MainWindow::wake()
{
    // Processing ticks anyway.
    if (videoCommand != ProcessFrame && videoCommand != NextFile && !timer->isActive())
        restartPlaybackTimer();
}

void MainWindow::play_pause_video()
{
    restartPlaybackTimer();
    if (ui->pb_play_pause->text() == tr("Play")) {
        videoCommand = Play;
        ui->pb_play_pause->setText(tr("Pause"));
    } else {
        videoCommand = Pause;
        ui->pb_play_pause->setText(tr("Play"));
    }
}

void MainWindow::fast_forward()
{
    videoCommand = FastForward;
    wake();
}

void MainWindow::slow_forward()
{
    videoCommand = SlowForward;
    wake();
}

void MainWindow::fast_reverse()
{
    videoCommand = FastReverse;
    wake();
}

void MainWindow::slow_reverse()
{
    videoCommand = SlowReverse;
    wake();
}

void MainWindow::hs_frame_moved(int iPos)
{
    videoCommand = Seek;
    position = iPos;
    wake();
}

void MainWindow::sendMousePressVideo(QMouseEvent *e)
{
    const cv::Point point = toFrame(e);
    pressX = point.x;
    pressY = point.y;
    if (editState == 1)
        zones.addAreaPoint(point);
    else if (editState == 2)
        zones.addMaskPoint(point);
    wake();
}

void MainWindow::sendMouseBClickVideo(QMouseEvent *e)
{
    // The first click of the double click has already added its point as a press.
    if (editState == 1) {
        zones.closeArea();
    } else if (editState == 2) {
        zones.closeMask();
    } else if (frameWidth > 640 && frameHeight > 480) {
        zoom = !zoom;
        // The centre is taken through the geometry whatever the zoom was.
        zoomX = geometry.toFrameX(e->x());
        zoomY = geometry.toFrameY(e->y());
    } else {
        zoom = false;
    }
    wake();
}

void MainWindow::sendMouseMoveVideo(QMouseEvent *e)
{
    const cv::Point point = toFrame(e);
    if (editState != 0)
        ui->la_mouse->setText(QStringLiteral("mouse x: %1 y:%2").arg(point.x).arg(point.y));
    else
        ui->la_mouse->setText(QString());

    const bool inFrame
        = point.x >= 0 && point.x <= frameWidth && point.y >= 0 && point.y <= frameHeight;
    if (editState == 4 && e->buttons() == Qt::LeftButton && inFrame) {
        zones.shift(cv::Point(pressX - point.x, pressY - point.y), frameHeight, frameWidth);
        zones.setMode(3);
        wake();
    }
}

void MainWindow::cleararea()
{
    zones.setMode(1);
    zones.clearArea();
    editState = 1;
    setCrossCursor();
    enable(false,
        { { ui->pb_cleararea, ui->pb_clearmask, ui->pb_savemask, ui->pb_cancelmask, ui->pb_movebox,
            ui->pb_savebox, ui->pb_cancelbox } });
    updateProcessButton();
    startEditing(ui->groupBox, tr("counting box"));
}

void MainWindow::savearea()
{
    if (!videoOpened || frame.empty())
        return;
    if (!TableViewFile::usableBox(zones.getArea(), TableViewFile::minAreaPoints)) {
        // Still drawing: the user can add the missing points or cancel.
        statusBar()->showMessage(
            tr("The counting box needs at least %1 different points; it was not saved.")
                .arg(TableViewFile::minAreaPoints));
        return;
    }
    zones.setMode(0);
    zones.saveArea(videoFile);
    checkSaved(true, false);
    endEditing();
    editState = 3;
    fileTable->refresh();
    enableEditButtons(true);
    updateProcessButton();
}

void MainWindow::cancelarea()
{
    zones.setMode(0);
    zones.loadArea(videoFile);
    endEditing();
    editState = 3;
    enableEditButtons(true);
    updateProcessButton();
}

void MainWindow::clearmask()
{
    zones.setMode(2);
    zones.clearMask();
    editState = 2;
    setCrossCursor();
    enable(false,
        { { ui->pb_clearmask, ui->pb_cleararea, ui->pb_savearea, ui->pb_cancelarea, ui->pb_movebox,
            ui->pb_savebox, ui->pb_cancelbox } });
    updateProcessButton();
    startEditing(ui->groupBox_2, tr("tracking box"));
}

void MainWindow::savemask()
{
    if (!videoOpened || frame.empty())
        return;
    if (!TableViewFile::usableBox(zones.getMask(), TableViewFile::minMaskPoints)) {
        statusBar()->showMessage(
            tr("The tracking box needs at least %1 different points; it was not saved.")
                .arg(TableViewFile::minMaskPoints));
        return;
    }
    zones.setMode(0);
    zones.saveMask(videoFile);
    checkSaved(false, true);
    endEditing();
    editState = 3;
    fileTable->refresh();
    enableEditButtons(true);
    updateProcessButton();
}

void MainWindow::cancelmask()
{
    zones.setMode(0);
    zones.loadMask(videoFile);
    endEditing();
    editState = 3;
    enableEditButtons(true);
    updateProcessButton();
}

void MainWindow::algo()
{
    if (ui->pb_algo->text() != tr("Process")) {
        // Between two ticks: the open video stays at its frame, every file
        // written so far stays, the unfinished trajectory image is dropped.
        run.cancel();
        stopReading();
        reportWriteErrors();
        ModeVideo(ModeProcessCancel);
        progressLabel->setText(tr("Processing cancelled at frame %1").arg(position, 0, 'g', 6));
        if (summaryWindow)
            summaryWindow->scheduleRefresh();
        return;
    }
    if (frame.empty() || !processBlockReason().isEmpty())
        return;

    const QStringList queue = processQueue();
    QHash<QString, AreaContour> ownBoxes;
    if (!chooseBoxes(queue, ownBoxes))
        return;
    CountingMethod::Kind counting = CountingMethod::Classic;
    CountingMethod::kindFromName(cbCounting->currentData().toString(), &counting);
    run.setCounting(counting);
    // The mask and the counting segments are built once, for the frame size
    // of this video, and serve every video of the run.
    run.setTrackExport(saveTracksBox->isChecked());
    run.start(zones, frame.size(), queue);
    for (auto own = ownBoxes.cbegin(); own != ownBoxes.cend(); ++own)
        run.setBoxesOf(own.key(), own.value());
    ClearResult();
    ui->tv_result->setEnabled(false);
    processStartFile = videoFile;
    runVideoCount = queue.size();
    runVideoIndex = 0;
    runSkipped = 0;
    runFailures.clear();
    statusBar()->clearMessage();
    qCDebug(lcGui) << "Processing" << runVideoCount << "videos";

    videoCommand = NextFile;
    timer->stop();
    timer->start(processInterval);
    ui->pb_algo->setText(tr("Cancel"));
    updateProcessButton();
}

void MainWindow::AddResult(const Result &result)
{
    if (results.size() <= resultLimit)
        results.append(result);
}

void MainWindow::ClearResult()
{
    results.clear();
    totalIn = 0;
    totalOut = 0;
    totalEvents = 0;
    showResults();
}

void MainWindow::showResults()
{
    resultTable->setResults(results, totalIn, totalOut, totalEvents);
    markReviewed();
}

void MainWindow::File_Row_Changed(int ifile)
{
    if (videoCommand == ProcessFrame || videoCommand == NextFile)
        return;
    const QString path = fileTable->filePath(ifile);
    if (path.isEmpty() || !QFileInfo::exists(path))
        return;
    // Only the platform's own separators are turned round: on Linux a
    // backslash is part of a file name.
    const QString chosen = QDir::fromNativeSeparators(path);
    if (chosen != videoFile && !dropEditing(tr("open %1").arg(QFileInfo(chosen).fileName()))) {
        // The table goes back to the video whose box is kept.
        fileTable->showPath(videoFile);
        return;
    }
    if (chosen == videoFile && videoOpened && !frame.empty()) {
        // The table was relisted around the open video (a box saved, a file
        // deleted): its files are read again, the frame shown stays.
        reloadVideoFiles();
        return;
    }
    videoFile = chosen;
    statusBar()->clearMessage();
    ModeVideo(ModeClosed);
    ModeVideo(ModeView);
}

void MainWindow::reloadVideoFiles()
{
    leaveEditing();
    editState = 3;
    zones.loadArea(videoFile);
    zones.loadMask(videoFile);
    loadResults();
    enableEditButtons(true);
    updateProcessButton();
    wake();
}

void MainWindow::Result_Row_Changed(int irow)
{
    if (irow < 0 || irow >= results.size())
        return;
    // A count file edited by hand may hold any number; only a frame index
    // can be sought (a huge value would overflow inside the video reader).
    // The count file gives the frame read before the one in which the
    // insect was counted.
    const double target = results.at(irow).frame + 1;
    if (!(target >= 0 && target <= std::numeric_limits<int>::max()))
        return;
    position = target;
    capture.set(cv::CAP_PROP_POS_FRAMES, position);
    videoCommand = ShowResult;
    wake();
}

void MainWindow::Add_Insect_detected(int frame, int x, int y, int in, int out)
{
    Result result;
    result.frame = frame;
    result.x = x;
    result.y = y;
    result.in = in;
    result.out = out;
    results.append(result);
    totalIn += in;
    totalOut += out;
    ++totalEvents;
    showResults();
}

void MainWindow::ModeVideo(statemode mode)
{
    const Controls playback { ui->pb_slow_reverse, ui->pb_fast_reverse, ui->pb_play_pause,
        ui->pb_fast_forward, ui->pb_slow_forward };
    const Controls saveAndSlider { ui->pushButton_2, ui->hs_frame };
    const Controls trackingBox { ui->pb_clearmask, ui->pb_savemask, ui->pb_cancelmask };
    const Controls countingBox { ui->pb_cleararea, ui->pb_savearea, ui->pb_cancelarea };
    const Controls shift { ui->pb_movebox, ui->pb_savebox, ui->pb_cancelbox };
    // Processing and shifting need both boxes of the video saved.
    const Controls processing { ui->cb_process_conf, ui->pb_algo };

    switch (mode) {
    case ModeClosed:
        closeVideo();
        // Nothing is left to play.
        if (videoCommand == Play)
            endStep();
        // No box may be edited or saved without a video: it would be written
        // under the name of the video closed last.
        enable(false, { playback, saveAndSlider, trackingBox, countingBox, shift });
        ui->la_height->clear();
        ui->la_width->clear();
        ui->la_fps->clear();
        ui->la_frame->clear();
        enable(false, { processing, { ui->tv_result } });
        editState = 0;
        ui->la_mouse->clear();
        ui->la_file_selected->clear();
        ui->la_file_selected->setToolTip(QString());
        showRecordingStart();
        ClearResult();
        updateProcessButton();
        break;

    case ModeView:
        if (!openVideo(ProcessRun::kStartFrame)) {
            showOpenFailure();
            updateProcessButton();
            break;
        }
        showVideoProperties();
        ui->tv_result->setEnabled(true);
        ClearResult();
        loadResults();
        videoCommand = Pause;
        ui->pb_play_pause->setText(tr("Play"));
        enable(true, { playback, saveAndSlider, trackingBox, countingBox });
        enable(fileTable->hasMask(videoFile), { shift });
        updateProcessButton();
        restartPlaybackTimer();
        break;

    case ModeProcess:
        closeVideo();
        // The controls stay locked for a video that is skipped as well: the
        // run goes on with the next one.
        openVideo(ProcessRun::kStartFrame);
        enable(false,
            { playback, saveAndSlider, trackingBox, countingBox, shift, { ui->cb_process_conf } });
        ui->pb_algo->setEnabled(true);
        enable(false, { { ui->tv_result, ui->tv_file, ui->pb_videofile, ui->pb_Import } });
        break;

    case ModeProcessEnd:
    case ModeProcessCancel: {
        if (mode == ModeProcessEnd)
            closeVideo();
        const bool shown = videoOpened && !frame.empty();
        if (mode == ModeProcessCancel && shown) {
            // The run drew the boxes of the video it started on: the video
            // stopped in is edited and saved with its own.
            zones.loadArea(videoFile);
            zones.loadMask(videoFile);
            showVideoProperties();
        }
        enable(shown, { playback, saveAndSlider, trackingBox, countingBox });
        enable(shown && fileTable->hasMask(videoFile), { shift });
        enable(true, { { ui->tv_result, ui->tv_file, ui->pb_videofile } });
        ui->pb_Import->setEnabled(importAllowed());
        ui->pb_algo->setText(tr("Process"));
        // The caption follows the command, as everywhere else Pause is set:
        // a run started while playing would otherwise come back reading "Pause".
        videoCommand = Pause;
        ui->pb_play_pause->setText(tr("Play"));
        updateProcessButton();
        wake();
        break;
    }
    }
}

QStringList MainWindow::processQueue() const
{
    QStringList listed;
    QStringList unprocessed;
    const QAbstractItemModel *model = ui->tv_file->model();
    for (int row = 0; model && row < model->rowCount(); ++row) {
        const QString path = fileTable->filePath(row);
        listed.append(path);
        if (model->index(row, doneColumn).data().toString() == QLatin1String("N"))
            unprocessed.append(path);
    }
    switch (ui->cb_process_conf->currentIndex()) {
    case ProcessRun::Unprocessed:
        // As the "done" column shows them when "Process" is pressed.
        return unprocessed;
    case ProcessRun::One:
        return { videoFile };
    case ProcessRun::All:
        return listed;
    default:
        return {};
    }
}

void MainWindow::nextFile()
{
    if (!run.hasNext()) {
        // Relisted while the command still ignores the row that refresh
        // makes current again: the video reopens once, below.
        fileTable->refresh();
        ModeVideo(ModeProcessEnd);
        ui->tv_result->setEnabled(true);
        videoFile = QDir::fromNativeSeparators(processStartFile);
        videoCommand = Pause;
        ui->pb_play_pause->setText(tr("Play"));
        ModeVideo(ModeView);
        fileTable->showPath(videoFile);
        progressLabel->setText(tr("Processing done: %1 processed, %2 skipped or failed")
                                   .arg(runVideoCount - runSkipped)
                                   .arg(runSkipped));
        if (summaryWindow)
            summaryWindow->scheduleRefresh();
        if (!runFailures.isEmpty()) {
            // Not modal: the run is over and the window goes on.
            auto *box = new QMessageBox(QMessageBox::Warning, tr("Processing"),
                tr("%n video(s) could not be completed; their earlier results are unchanged.",
                    nullptr, runFailures.size()),
                QMessageBox::Ok, this);
            box->setObjectName(QStringLiteral("processingFailures"));
            box->setInformativeText(runFailures.join(QLatin1Char('\n')));
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        }
        return;
    }

    videoFile = QDir::fromNativeSeparators(run.remaining().first());
    ++runVideoIndex;
    // openVideo hands the opening to the run, which refuses a video it
    // cannot process before any of its files is touched.
    ModeVideo(ModeProcess);
    if (videoOpened) {
        ClearResult();
        // The path, the properties and the row name the video in progress.
        showVideoProperties();
        videoCommand = ProcessFrame;
        speedClock.start();
        shownClock.invalidate();
        speedFrames = 0;
        speed = 0;
    } else {
        const QString text
            = tr("Skipped %1: %2").arg(QDir::toNativeSeparators(videoFile), run.skipReason());
        qCWarning(lcGui).noquote() << text;
        statusBar()->showMessage(text);
        ++runSkipped;
        if (run.videoFailed())
            runFailures << text;
    }
    fileTable->refresh();
    fileTable->showPath(videoFile);
    showProgress();
}

void MainWindow::processFrame()
{
    processed = videoOpened && run.videoOpen() ? reader.next() : nullptr;
    if (!processed) {
        // The video has run dry (or a count could not be written): its files
        // go in place together, or the earlier ones stay.
        const bool finished = run.finishVideo(reader);
        reader.close();
        if (!finished && run.videoFailed()) {
            const QString text
                = tr("Failed %1: %2").arg(QDir::toNativeSeparators(run.video()), run.failure());
            qCWarning(lcGui).noquote() << text;
            statusBar()->showMessage(text);
            runFailures << text;
            ++runSkipped;
        } else if (!run.endWarning().isEmpty()) {
            const QString text
                = tr("%1: %2").arg(QDir::toNativeSeparators(run.video()), run.endWarning());
            qCWarning(lcGui).noquote() << text;
            statusBar()->showMessage(text);
        }
        reportWriteErrors();
        if (summaryWindow)
            summaryWindow->scheduleRefresh();
        videoCommand = NextFile;
        return;
    }
    const QVector<Result> events = run.processGrey(processed->grey);
    // A frame's counts go in whole or not at all.
    if (!events.isEmpty()) {
        // The totals take every event; the list stops at its limit.
        for (const Result &event : events) {
            totalIn += event.in;
            totalOut += event.out;
        }
        totalEvents += events.size();
        if (results.size() <= processResultLimit)
            results.append(events);
        showResults();
    }
    // The frame number and the progress are painted with every frame: a
    // label kept from painting may come back blank.
    const bool show = !shownClock.isValid() || shownClock.elapsed() >= displayPeriod;
    if (show) {
        shownClock.start();
        reader.colourOf(*processed, picture);
        targetOverlay.draw(picture, run.tracked());
        showPicture(picture);
        if (ui->cb_hankview->isChecked())
            showTrajectory();
    }
    position = run.position();

    ++speedFrames;
    const qint64 elapsed = speedClock.nsecsElapsed();
    if (elapsed > 0 && (speedFrames >= speedFrameSpan || elapsed >= speedPeriodMs * 1000000)) {
        speed = speedFrames * 1e9 / static_cast<double>(elapsed);
        speedFrames = 0;
        speedClock.restart();
    }
    showProgress();
}

void MainWindow::stopReading()
{
    if (!reader.isOpen())
        return;
    if (processed)
        reader.colourOf(*processed, frame);
    processed = nullptr;
    reader.close();
    // Playback reads on from the frame shown.
    if (videoOpened && VideoFiles::openCapture(capture, videoFile))
        capture.set(cv::CAP_PROP_POS_FRAMES, position + 1);
}

void MainWindow::showTrajectory()
{
    cv::Mat image = run.trajectoryImage();
    if (image.empty() || image.type() != CV_8UC3)
        return;
    const QSize imageSize(image.cols, image.rows);
    if (!trajectoryWindow || trajectoryImageSize != imageSize) {
        if (!trajectoryWindow) {
            trajectoryWindow = std::make_unique<ImageWindow>(this, QString());
            trajectoryWindow->setObjectName(QStringLiteral("trajectoryWindow"));
        }
        // Beside the window and scaled to the screen, so that the density
        // banner at its foot shows and "Process" stays free.
        const QRect process(ui->pb_algo->mapToGlobal(QPoint(0, 0)), ui->pb_algo->size());
        trajectoryShownSize = trajectoryWindow->placeBeside(this, process, imageSize);
        trajectoryImageSize = imageSize;
    }
    if (trajectoryShownSize != imageSize) {
        cv::resize(image, trajectoryScaled,
            cv::Size(trajectoryShownSize.width(), trajectoryShownSize.height()), 0, 0,
            cv::INTER_AREA);
        cv::cvtColor(trajectoryScaled, image, cv::COLOR_BGR2RGB);
    } else {
        cv::cvtColor(image, image, cv::COLOR_BGR2RGB);
    }
    QImage shown(
        image.data, image.cols, image.rows, static_cast<int>(image.step), QImage::Format_RGB888);
    // The image's own density banner shrinks with it: written again at a
    // size that can be read, in the banner's colours.
    QPainter painter(&shown);
    QFont font = painter.font();
    font.setPixelSize(14);
    painter.setFont(font);
    const QString density = run.densityText();
    const QRect box = painter.fontMetrics().boundingRect(density).adjusted(-4, -2, 4, 2);
    painter.fillRect(box.translated(-box.topLeft()), QColor(255, 0, 0));
    painter.setPen(QColor(255, 255, 0));
    painter.drawText(box.translated(-box.topLeft()), Qt::AlignCenter, density);
    painter.end();
    const QString title = tr("Trajectories of %1 - Kestrin").arg(QFileInfo(run.video()).fileName());
    if (trajectoryWindow->windowTitle() != title)
        trajectoryWindow->setWindowTitle(title);
    trajectoryWindow->showImage(shown);
}

void MainWindow::showProgress()
{
    QString text = tr("Video %1 of %2 (%3), frame %4")
                       .arg(runVideoIndex)
                       .arg(runVideoCount)
                       .arg(QFileInfo(videoFile).fileName())
                       .arg(position, 0, 'g', 6);
    if (speed > 0)
        text += tr(", %1 frames per second").arg(speed, 0, 'f', 1);
    progressLabel->setText(text);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (videoCommand == ProcessFrame || videoCommand == NextFile) {
        const QString question = tr("%1 is being processed. Stop processing and close the window?")
                                     .arg(QFileInfo(videoFile).fileName());
        if (!fileDialogs->question(this, tr("Stop processing?"), question)) {
            event->ignore();
            return;
        }
        // Every count reported so far is in its count file already.
        run.cancel();
        ModeVideo(ModeProcessCancel);
    }
    timer->stop();
    if (trajectoryWindow)
        trajectoryWindow->close();
    QMainWindow::closeEvent(event);
}

void MainWindow::Import()
{
    // Without a working directory the videos would land in "/".
    if (!importAllowed())
        return;
    {
        // A chain still running when the dialog closes carries on by itself.
        ImportWindow dialog(workingDir);
        dialog.setDialogs(fileDialogs.get());
        dialog.exec();
    }
    fileTable->setDirectory(workingDir);
}

void MainWindow::about()
{
    QMessageBox box;
    box.setWindowTitle(tr("About Kestrin"));
    box.setIconPixmap(windowIcon().pixmap(64, 64));
    box.setText(tr("Version %1 25/08/2015\n"
                   "Kestrin counts small flying insects in recorded video.\n"
                   "Made by Tolvane with Qorel.\n"
                   "For support, please contact Tolvane.")
                    .arg(kestrin::version()));
    box.exec();
}

void MainWindow::on_pushButton_2_clicked()
{
    const QStringList kinds { tr("jpg (*.jpg)"),
        tr("Full frame, %1 x %2, once (*.jpg)").arg(frameWidth).arg(frameHeight) };
    int kind = 0;
    QString file = fileDialogs->saveImageName(tr("Save as..."), kinds, kind);
    // A name without an image suffix would match no image writer.
    if (!file.isEmpty() && !cv::haveImageWriter(QFile::encodeName(file).toStdString()))
        file += QStringLiteral(".jpg");
    if (kind == 1 && !file.isEmpty()) {
        saveFullFrame(file);
        return;
    }
    // A cancelled dialog empties the target, which stops the saving.
    saveImageFile = file;
    if (!saveImageFile.isEmpty()) {
        saveImage = true;
        wake();
    }
}

void MainWindow::saveFullFrame(const QString &file)
{
    if (frame.empty())
        return;
    frame.copyTo(picture);
    zones.draw(picture);
    std::vector<uchar> encoded;
    QString reason;
    try {
        if (!cv::imencode(
                QFileInfo(file).suffix().prepend(QLatin1Char('.')).toStdString(), picture, encoded))
            reason = tr("the picture cannot be encoded");
    } catch (const cv::Exception &e) {
        reason = QString::fromStdString(e.msg);
    }
    QSaveFile out(file);
    if (reason.isEmpty()) {
        const auto size = static_cast<qint64>(encoded.size());
        if (!out.open(QIODevice::WriteOnly)
            || out.write(reinterpret_cast<const char *>(encoded.data()), size) != size
            || !out.commit())
            reason = out.errorString();
    }
    const QString name = QDir::toNativeSeparators(file);
    if (!reason.isEmpty()) {
        qCWarning(lcGui).noquote() << "Frame not saved to" << file << ":" << reason;
        statusBar()->showMessage(tr("The picture could not be saved to %1: %2").arg(name, reason));
        return;
    }
    statusBar()->showMessage(tr("Frame %1 saved to %2 (%3 x %4).")
                                 .arg(position)
                                 .arg(name)
                                 .arg(frameWidth)
                                 .arg(frameHeight));
}

void MainWindow::on_pb_movebox_clicked()
{
    if (!videoOpened || frame.empty())
        return;
    editState = 4;
    enable(false,
        { { ui->pb_cleararea, ui->pb_savearea, ui->pb_cancelarea, ui->pb_clearmask, ui->pb_savemask,
            ui->pb_cancelmask, ui->pb_movebox } });
    updateProcessButton();
    startEditing(ui->groupBox_5, QString());
}

void MainWindow::on_pb_savebox_clicked()
{
    // Only the boxes of the open video, shifted from a saved pair, are saved.
    if (!videoOpened || frame.empty() || editState != 4)
        return;
    // In shift mode each save first takes over the shifted points.
    zones.saveMask(videoFile);
    zones.saveArea(videoFile);
    checkSaved(true, true);
    zones.setMode(0);
    editState = 3;
    fileTable->refresh();
    endEditing();
    enableEditButtons(false);
    updateProcessButton();
}

void MainWindow::on_pb_cancelbox_clicked()
{
    // Back in mode 0 the unshifted boxes are drawn again; the files were not touched.
    zones.setMode(0);
    zones.loadMask(videoFile);
    endEditing();
    editState = 3;
    enableEditButtons(false);
    updateProcessButton();
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

void MainWindow::showPicture(cv::Mat &shown)
{
    zones.draw(shown);
    imageView->showImage(shown, zoom, zoomX, zoomY, saveImage, saveImageFile);
}

void MainWindow::showFrame()
{
    if (frame.empty())
        return;
    frame.copyTo(picture);
    showPicture(picture);
}

void MainWindow::loadResults()
{
    results.clear();
    totalIn = 0;
    totalOut = 0;
    totalEvents = 0;
    ResultFile file;
    if (file.open(videoFile, ResultFile::Read) == 1) {
        Result record;
        // Every record counts in the totals; AddResult lists the first ones.
        while (file.readRecord(
                   record.frame, record.x, record.y, record.in, record.out, record.timestamp)
            != -1) {
            totalIn += record.in;
            totalOut += record.out;
            ++totalEvents;
            AddResult(record);
        }
        file.close();
    }
    showResults();
}

bool MainWindow::openVideo(int startFrame)
{
    openFailure.clear();
    const bool queued = videoCommand == NextFile;
    if (queued) {
        // The run opens a queued video itself, with its frame 90 read, and
        // refuses one it cannot process before touching any of its files.
        if (!run.openNext(reader))
            return false;
    } else if (!VideoFiles::openCapture(capture, videoFile) || !capture.isOpened()) {
        openFailure = tr("it cannot be opened as a video");
        return false;
    }
    videoOpened = true;
    // A batch keeps the boxes that were current when it started.
    if (!queued) {
        zones.loadArea(videoFile);
        zones.loadMask(videoFile);
    }
    if (queued) {
        frameHeight = reader.frameSize().height;
        frameWidth = reader.frameSize().width;
        fps = reader.fps();
        endFrame = reader.frameCount() - endMargin;
    } else {
        frameHeight = cutToInt(capture.get(cv::CAP_PROP_FRAME_HEIGHT));
        frameWidth = cutToInt(capture.get(cv::CAP_PROP_FRAME_WIDTH));
        fps = capture.get(cv::CAP_PROP_FPS);
        endFrame = capture.get(cv::CAP_PROP_FRAME_COUNT) - endMargin;
    }
    startTime = startTimeFromFileName(videoFile);

    geometry.setFromFrameSize(frameWidth, frameHeight);
    zoom = false;
    ui->gv_video->resize(geometry.displayWidth() + 2, geometry.displayHeight() + 2);
    ui->gv_video->move(geometry.viewLeft(), geometry.viewTop());

    if (queued) {
        run.startFrame().copyTo(frame);
    } else {
        // A raw stream under an .mp4 name opens, but has no frame count to
        // play or seek by.
        openFailure = ProcessRun::noFrameCount(capture.get(cv::CAP_PROP_FRAME_COUNT));
        if (!openFailure.isEmpty())
            return false;
        if (!readPictureAt(startFrame)) {
            openFailure = tr("it has no frame %1").arg(startFrame);
            return false;
        }
        keepPicture();
    }
    position = startFrame;
    if (frame.empty()) {
        openFailure = tr("it has no frame %1").arg(startFrame);
        return false;
    }
    showFrame();
    editState = 3;
    return true;
}

void MainWindow::closeVideo()
{
    leaveEditing();
    imageView->clear();
    if (videoOpened)
        capture.release();
    processed = nullptr;
    reader.close();
    videoOpened = false;
    // The closed video's frame must not come back with the next redraw.
    frame.release();
}

QDateTime MainWindow::startTimeFromFileName(const QString &path)
{
    return VideoFiles::startTimeFromFileName(path);
}

bool MainWindow::readPicture()
{
    return capture.read(picture) && !picture.empty();
}

bool MainWindow::readPictureAt(double index)
{
    capture.set(cv::CAP_PROP_POS_FRAMES, index);
    return readPicture();
}

void MainWindow::keepPicture()
{
    picture.copyTo(frame);
}

void MainWindow::endStep()
{
    videoCommand = Pause;
    ui->pb_play_pause->setText(tr("Play"));
}

void MainWindow::restartPlaybackTimer()
{
    timer->start(playbackInterval(fps));
}

int MainWindow::playbackInterval(double fps)
{
    const double rate = std::isfinite(fps) && fps > 0 ? fps : defaultFps;
    return cutToInt(500.0 / rate);
}

cv::Point MainWindow::toFrame(const QMouseEvent *e) const
{
    if (!zoom)
        return cv::Point(geometry.toFrameX(e->x()), geometry.toFrameY(e->y()));
    // The same window that the image view cuts out of the frame.
    const cv::Rect window
        = ImageGraphicsView::zoomWindow(cv::Size(frameWidth, frameHeight), zoomX, zoomY);
    return cv::Point(e->x() + window.x, e->y() + window.y);
}

void MainWindow::enableEditButtons(bool withShiftEnd)
{
    enable(true,
        { { ui->pb_cleararea, ui->pb_savearea, ui->pb_cancelarea, ui->pb_clearmask, ui->pb_savemask,
            ui->pb_cancelmask } });
    // As when the video is opened: a shift needs both boxes saved, or its
    // "Save" would write empty box files that mark the video ready.
    const bool shift = videoOpened && fileTable->hasMask(videoFile);
    ui->pb_movebox->setEnabled(shift);
    if (withShiftEnd)
        enable(shift, { { ui->pb_savebox, ui->pb_cancelbox } });
}

void MainWindow::checkSaved(bool area, bool mask)
{
    // The box files are written without a word on failure: read them back.
    AreaContour saved;
    saved.loadArea(videoFile);
    saved.loadMask(videoFile);
    const bool areaKept = zones.getMode() == 3 ? saved.getArea() == zones.getAreaShifted()
                                               : saved.getArea() == zones.getArea();
    const bool maskKept = zones.getMode() == 3 ? saved.getMask() == zones.getMaskShifted()
                                               : saved.getMask() == zones.getMask();
    if ((area && !areaKept) || (mask && !maskKept)) {
        const QString text = tr("The boxes of %1 could not be saved in %2.")
                                 .arg(QFileInfo(videoFile).fileName(),
                                     QDir::toNativeSeparators(VideoFiles::exportDir(videoFile)));
        qCWarning(lcGui).noquote() << text;
        statusBar()->showMessage(text);
    }
}

bool MainWindow::importAllowed() const
{
    return !workingDir.isEmpty() && QFileInfo(workingDir).isDir();
}

QString MainWindow::processBlockReason() const
{
    if (!videoOpened || frame.empty())
        return tr("Process is disabled: no video is open.");
    if (editState == 1 || editState == 2 || editState == 4)
        return tr("Process is disabled: a box is being edited; save or cancel it first.");
    if (!fileTable->hasMask(videoFile)) {
        AreaContour saved;
        saved.loadArea(videoFile);
        saved.loadMask(videoFile);
        const bool area = TableViewFile::usableBox(saved.getArea(), TableViewFile::minAreaPoints);
        const bool mask = TableViewFile::usableBox(saved.getMask(), TableViewFile::minMaskPoints);
        if (area)
            return tr("Process is disabled: the video has no saved tracking box.");
        if (mask)
            return tr("Process is disabled: the video has no saved counting box.");
        return tr("Process is disabled: the video has no saved counting box and tracking box.");
    }
    return QString();
}

void MainWindow::updateProcessButton()
{
    if (videoCommand == ProcessFrame || videoCommand == NextFile) {
        // "Cancel" stays at hand for the whole run.
        ui->pb_algo->setEnabled(true);
        ui->cb_process_conf->setEnabled(false);
        ui->pb_algo->setToolTip(QString());
        processHint->clear();
        return;
    }
    const QString reason = processBlockReason();
    ui->pb_algo->setEnabled(reason.isEmpty());
    ui->cb_process_conf->setEnabled(reason.isEmpty());
    ui->pb_algo->setToolTip(reason);
    // While a box is drawn the status bar says how; the tip says why.
    processHint->setText(editing() ? QString() : reason);
}

void MainWindow::showOpenFailure()
{
    const QString reason = openFailure.isEmpty() ? tr("it cannot be opened") : openFailure;
    closeVideo();
    const QString name = QFileInfo(videoFile).fileName();
    imageView->showMessage(tr("%1 cannot be shown: %2.").arg(name, reason));
    statusBar()->showMessage(
        tr("%1 cannot be shown: %2.").arg(QDir::toNativeSeparators(videoFile), reason));
    qCWarning(lcGui).noquote() << "Cannot show" << videoFile << ":" << reason;
}

void MainWindow::showVideoProperties()
{
    ui->hs_frame->setMaximum(cutToInt(endFrame));
    ui->hs_frame->setMinimum(0);
    ui->hs_frame->setValue(cutToInt(position));
    ui->la_height->setText(QString::number(frameHeight));
    ui->la_width->setText(QString::number(frameWidth));
    ui->la_fps->setText(QString::number(fps, 'g', 6));
    // The frame count; playback stops 5 frames short of it.
    ui->la_frame->setText(QString::number(endFrame + endMargin, 'g', 6));
    ui->la_Num_Frame->setText(QString::number(position, 'g', 6));
    // A long path is cut in the middle on screen and shown whole in the tip.
    ui->la_file_selected->setToolTip(QDir::toNativeSeparators(videoFile));
    ui->la_file_selected->setText(ui->la_file_selected->fontMetrics().elidedText(
        videoFile, Qt::ElideMiddle, ui->la_file_selected->width()));
    showRecordingStart();
}

void MainWindow::setCrossCursor()
{
    if (crossCursor) {
        QGuiApplication::changeOverrideCursor(QCursor(Qt::CrossCursor));
    } else {
        QGuiApplication::setOverrideCursor(QCursor(Qt::CrossCursor));
        crossCursor = true;
    }
}

void MainWindow::restoreCursor()
{
    if (!crossCursor)
        return;
    QGuiApplication::restoreOverrideCursor();
    crossCursor = false;
}

void MainWindow::leaveEditing()
{
    restoreCursor();
    // A shift or a half-drawn box belongs to the video being closed: the next
    // video shows and saves its own boxes.
    zones.setMode(0);
}

void MainWindow::fitTo(const QRect &available)
{
    const QSize form(formWidth, formHeight);
    // Room for the title bar and borders a window manager adds.
    const QSize decoration(10, 40);
    const QSize room = (available.size() - decoration).expandedTo(QSize(320, 240));
    if (room.width() >= form.width() && room.height() >= form.height()) {
        setMinimumSize(form);
        setMaximumSize(form);
        pageArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        pageArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        resize(form);
        return;
    }
    // A smaller window whose form scrolls: every control can be reached.
    // Where the height allows, one scroll bar does not bring the other.
    pageArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    pageArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, pageArea);
    const QSize withBars = form + QSize(bar, bar);
    setMinimumSize(QSize(320, 240));
    setMaximumSize(withBars);
    resize(withBars.boundedTo(room));
    move(available.topLeft());
}

void MainWindow::showEvent(QShowEvent *event)
{
    if (!fitted) {
        fitted = true;
        if (const QScreen *shownOn = screen())
            fitTo(shownOn->availableGeometry());
    }
    QMainWindow::showEvent(event);
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && editing()) {
        cancelEditing();
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

bool MainWindow::editing() const
{
    return editState == 1 || editState == 2 || editState == 4;
}

bool MainWindow::dropEditing(const QString &action)
{
    if (!editing())
        return true;
    const QString box = editState == 1 ? tr("counting box")
        : editState == 2               ? tr("tracking box")
                                       : tr("shift of the boxes");
    const QString question = tr("The %1 of %2 is not saved. Drop it and %3?")
                                 .arg(box, QFileInfo(videoFile).fileName(), action);
    if (!fileDialogs->question(this, tr("Unsaved box"), question))
        return false;
    cancelEditing();
    return true;
}

void MainWindow::cancelEditing()
{
    if (editState == 1)
        cancelarea();
    else if (editState == 2)
        cancelmask();
    else if (editState == 4)
        on_pb_cancelbox_clicked();
}

void MainWindow::startEditing(QWidget *group, const QString &box)
{
    editHint = box.isEmpty()
        ? tr("Drag on the picture to shift both boxes, then \"Save\"; Escape cancels.")
        : tr("Click the corners of the %1 on the picture, double-click to close it, then "
             "\"Save\"; Escape cancels.")
              .arg(box);
    statusBar()->showMessage(editHint);
    // On a small screen the form scrolls: its "Save" must be in view.
    pageArea->ensureWidgetVisible(group);
    wake();
}

void MainWindow::endEditing()
{
    restoreCursor();
    if (!editHint.isEmpty() && statusBar()->currentMessage() == editHint)
        statusBar()->clearMessage();
    editHint.clear();
    wake();
}

void MainWindow::orderTabs()
{
    // Top to bottom, left to right, as the form is read.
    const QList<QWidget *> order { ui->le_videofile, ui->pb_videofile, ui->pb_Import,
        ui->cb_hankview, ui->tv_file, ui->hs_frame, ui->cb_process_conf, cbCounting.data(),
        ui->pushButton_2, ui->pb_slow_reverse, ui->pb_fast_reverse, ui->pb_play_pause,
        ui->pb_fast_forward, ui->pb_slow_forward, ui->pb_algo, summaryButton, saveTracksBox,
        ui->pb_about, ui->pb_cleararea, ui->pb_savearea, ui->pb_cancelarea, ui->pb_clearmask,
        ui->pb_savemask, ui->pb_cancelmask, ui->pb_movebox, ui->pb_savebox, ui->pb_cancelbox,
        ui->tv_result, ui->te_error };
    for (int i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));
    // The picture is worked with the mouse; Tab passes it by.
    ui->gv_video->setFocusPolicy(Qt::NoFocus);
    pageArea->setFocusPolicy(Qt::NoFocus);
    ui->tv_result->setTabKeyNavigation(false);
    ui->te_error->setTabChangesFocus(true);
}

void MainWindow::addTips()
{
    ui->pb_Import->setToolTip(tr("Bring videos from another folder into the working directory: "
                                 ".mp4 and .avi are copied, raw .h264 streams wrapped into .mp4"));
    ui->pb_videofile->setToolTip(tr("Choose the working directory: the folder of the videos"));
    ui->cb_hankview->setToolTip(tr("While processing, show the tracks of the video in progress "
                                   "and their density in a window of their own"));
    const QString draw = tr("Draw the %1: click its corners on the picture, double-click to "
                            "close it, then \"Save\". Escape cancels.");
    ui->pb_cleararea->setToolTip(draw.arg(tr("counting box (two points make a line)")));
    ui->pb_clearmask->setToolTip(draw.arg(tr("tracking box, where insects are followed")));
    ui->pb_movebox->setToolTip(tr("Shift both boxes together by dragging on the picture"));
    ui->pushButton_2->setToolTip(
        tr("Save the picture as shown (and every later one), or the full frame once"));

    recordingLabel = new QLabel(ui->admin_page);
    recordingLabel->setObjectName(QStringLiteral("la_recording"));
    const QRect table = ui->tv_file->geometry();
    recordingLabel->setGeometry(table.left() + 2, table.bottom() + 3, table.width() - 2, 16);
    const QString rule = tr("A video named video_yyyyMMdd_hhmm_NN.mp4 carries its recording "
                            "start, and its counts are stamped from it; any other video is "
                            "stamped with the time of processing.");
    recordingLabel->setToolTip(rule);
    ui->groupBox_4->setToolTip(rule);
}

void MainWindow::showRecordingStart()
{
    if (!videoOpened) {
        recordingLabel->clear();
        return;
    }
    const QDateTime start = VideoFiles::namedRecordingStart(videoFile);
    // Short enough for the room under the table; the tip gives the rule.
    recordingLabel->setText(start.isValid()
            ? tr("Recording start: %1").arg(start.toString(QStringLiteral("yyyy-MM-dd hh:mm")))
            : tr("Stamped at the time of processing"));
}

bool MainWindow::chooseBoxes(const QStringList &queue, QHash<QString, AreaContour> &own)
{
    own.clear();
    QHash<QString, AreaContour> found;
    QStringList differing;
    for (const QString &path : queue) {
        if (path == videoFile || found.contains(path) || !TableViewFile::hasUsableBoxes(path))
            continue;
        AreaContour saved;
        saved.loadArea(path);
        saved.loadMask(path);
        if (saved.getArea() != zones.getArea() || saved.getMask() != zones.getMask()) {
            found.insert(path, saved);
            differing << QFileInfo(path).fileName();
        }
    }
    if (differing.isEmpty())
        return true;
    const QString current = QFileInfo(videoFile).fileName();
    QMessageBox box(QMessageBox::Question, tr("Boxes"),
        differing.size() == 1 ? tr("1 video has its own boxes.")
                              : tr("%1 videos have their own boxes.").arg(differing.size()),
        QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("boxesQuestion"));
    box.setInformativeText(differing.join(QLatin1Char('\n')));
    QPushButton *each = box.addButton(tr("Count each with its own boxes"), QMessageBox::AcceptRole);
    box.addButton(tr("Count with the boxes of %1").arg(current), QMessageBox::AcceptRole);
    QPushButton *cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(each);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == cancel || !box.clickedButton())
        return false;
    if (box.clickedButton() == each)
        own = found;
    return true;
}
