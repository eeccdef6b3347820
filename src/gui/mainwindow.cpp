#include "mainwindow.h"

#include <optional>

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include "ui_mainwindow.h"

#include "filedialogprovider.h"
#include "formcontrols.h"
#include "formpage.h"
#include "graphicsviewmouse.h"
#include "playback.h"
#include "resultwindows.h"
#include "runpanel.h"
#include "tableviewfile.h"
#include "tableviewresult.h"
#include "version.h"
#include "workingfolder.h"
#include "zoneeditor.h"
#include "zones/videofiles.h"

// The resources are compiled into a static library: register them explicitly.
// Q_INIT_RESOURCE must be used outside any namespace.
static void initKestrinResources()
{
    Q_INIT_RESOURCE(kestrin);
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::MainWindow>())
    , fileDialogs(std::make_unique<FileDialogProvider>())
{
    initKestrinResources();
    ui->setupUi(this);
    // The form scrolls on a screen smaller than it (fitTo).
    page = new FormPage(this, QSize(formWidth, formHeight));

    ui->la_version->setText(tr("Version %1").arg(kestrin::version()));
    setWindowTitle(tr("Kestrin"));

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
    ui->centralWidget->setMouseTracking(true);
    connect(ui->gv_video, &GraphicsViewMouse::sendMousePressVideo, this,
        &MainWindow::sendMousePressVideo);
    connect(ui->gv_video, &GraphicsViewMouse::sendMouseMoveVideo, this,
        &MainWindow::sendMouseMoveVideo);
    connect(ui->gv_video, &GraphicsViewMouse::sendMouseBClickVideo, this,
        &MainWindow::sendMouseBClickVideo);

    resultTable = new TableViewResult(ui->tv_result, ui->te_error, this);
    connect(
        resultTable, &TableViewResult::Result_Row_Changed, this, &MainWindow::Result_Row_Changed);

    fileTable = new TableViewFile(ui->tv_file, this, this);
    connect(fileTable, &TableViewFile::File_Row_Changed, this, &MainWindow::File_Row_Changed);
    playback = new Playback(*ui, statusBar(), this);
    connect(playback->timer(), &QTimer::timeout, this, &MainWindow::timeframe);
    connect(playback, &Playback::nextFileDue, this, &MainWindow::nextFile);
    connect(playback, &Playback::frameDue, this,
        [this] { runPanel->processFrame(videoFile, ui->cb_hankview->isChecked()); });
    zoneEditor = new ZoneEditor(*ui, *playback, *fileTable, this, page->area());
    playback->setBoxes(&zoneEditor->zones());
    zoneEditor->setVideoSource([this] { return videoFile; });
    zoneEditor->setQuestion([this](const QString &title, const QString &text) {
        return fileDialogs->question(this, title, text);
    });
    connect(zoneEditor, &ZoneEditor::changed, this, [this] {
        updateProcessButton();
        playback->wake();
    });

    controls = new FormControls(*ui, this, page->area());
    runPanel = new RunPanel(
        this, playback, resultTable, ui->pb_algo, controls->progress(), controls->counting());
    runPanel->setProcessControls(ui->cb_process_conf, controls->processHint());
    connect(&runPanel->driver().insectDetect(), &InsectDetect::Add_Insect_detected, this,
        &MainWindow::Add_Insect_detected);
    connect(&runPanel->driver(), &RunDriver::videoEnded, this, &MainWindow::videoEnded);
    connect(runPanel, &RunPanel::resultsChanged, this, &MainWindow::markReviewed);
    resultWindows = new ResultWindows(this, statusBar(), [this] { return playback->position(); });
    connect(resultWindows, &ResultWindows::reviewChanged, this, [this](const QString &video) {
        if (video == videoFile)
            markReviewed();
    });
    connect(controls->summary(), &QPushButton::clicked, this,
        [this] { resultWindows->showSummary(*folder); });
    connect(controls->review(), &QPushButton::clicked, this,
        [this] { resultWindows->showReview(videoFile); });
    fileTable->setConfirmation([this](const QString &question) {
        return fileDialogs->question(this, tr("Delete"), question);
    });

    ui->stackedWidget->setCurrentWidget(ui->admin_page);
    updateProcessButton();

    folder = new WorkingFolder(ui->le_videofile, *fileTable, statusBar(), this);
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
    folder->relist();
    showOpenVideoRow();
    ui->pb_Import->setEnabled(folder->usable());
    resultWindows->folderChanged(folder->path());
}

void MainWindow::Import()
{
    folder->importVideos(fileDialogs.get());
    showOpenVideoRow();
}

void MainWindow::showOpenVideoRow()
{
    // Relisting drops the table's current row; a table without one opens its
    // first video as soon as Tab reaches it.
    if (playback->hasFrame() || playback->running())
        fileTable->showPath(videoFile);
}

void MainWindow::markReviewed()
{
    // While processing, the list is of the run's new counts.
    if (playback->running())
        return;
    runPanel->markReviewed(videoFile);
}

void MainWindow::set_filename_videofile()
{
    // A cancelled dialog, or a box kept, leaves the open video and the table
    // as they were.
    const QString chosen = fileDialogs->existingDirectory(folder->path());
    if (chosen.isEmpty()
        || !zoneEditor->dropEditing(tr("open the folder %1").arg(QDir::toNativeSeparators(chosen))))
        return;
    ModeVideo(ModeClosed);
    folder->choose(chosen);
    filename_videofile_change();
}

void MainWindow::hs_frame_moved(int iPos)
{
    playback->setPosition(iPos);
    playback->step(Playback::Command::Seek);
}

void MainWindow::sendMousePressVideo(QMouseEvent *e)
{
    zoneEditor->press(playback->toFrame(e->pos()));
    playback->wake();
}

void MainWindow::sendMouseBClickVideo(QMouseEvent *e)
{
    if (!zoneEditor->closeBox())
        playback->toggleZoom(e->pos());
    playback->wake();
}

void MainWindow::sendMouseMoveVideo(QMouseEvent *e)
{
    zoneEditor->move(playback->toFrame(e->pos()), e->buttons() == Qt::LeftButton);
}

void MainWindow::algo()
{
    if (ui->pb_algo->text() != tr("Process")) {
        // Between two ticks: the open video stays at its frame, every file
        // written so far stays, the unfinished trajectory image is dropped.
        runPanel->stop(videoFile);
        ModeVideo(ModeProcessCancel);
        runPanel->showCancelled(playback->position());
        resultWindows->countsChanged();
        return;
    }
    if (!processBlockReason().isEmpty())
        return;

    if (!runPanel->start(videoFile, zoneEditor->zones(), playback->frame().size(),
            RunPanel::queue(ui->cb_process_conf->currentIndex(), *fileTable, videoFile),
            controls->saveTracks()->isChecked()))
        return;
    ui->tv_result->setEnabled(false);
    processStartFile = videoFile;
    playback->startRun();
    ui->pb_algo->setText(tr("Cancel"));
    updateProcessButton();
}

void MainWindow::File_Row_Changed(int ifile)
{
    if (playback->running())
        return;
    const QString path = fileTable->filePath(ifile);
    if (path.isEmpty())
        return;
    if (!QFileInfo::exists(path)) {
        // A name the system's encoding cannot give back names no file: the
        // open video stays, and the user learns why.
        const QString why = VideoFiles::nameProblem(path);
        if (!why.isEmpty())
            statusBar()->showMessage(tr("%1 cannot be shown: %2.").arg(path, why));
        return;
    }
    // Only the platform's own separators are turned round: on Linux a
    // backslash is part of a file name.
    const QString chosen = QDir::fromNativeSeparators(path);
    if (chosen != videoFile
        && !zoneEditor->dropEditing(tr("open %1").arg(QFileInfo(chosen).fileName()))) {
        // The table goes back to the video whose box is kept.
        fileTable->showPath(videoFile);
        return;
    }
    if (chosen == videoFile && playback->hasFrame()) {
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
    // A file deleted from the table's menu must not take the box being
    // drawn along with it.
    zoneEditor->reloadSaved(videoFile);
    runPanel->loadResults(videoFile);
    updateProcessButton();
    playback->wake();
}

void MainWindow::Result_Row_Changed(int irow)
{
    if (const std::optional<double> frame = runPanel->frameToShow(irow)) {
        playback->moveTo(*frame);
        playback->step(Playback::Command::ShowResult);
    }
}

void MainWindow::Add_Insect_detected(int frame, int x, int y, int in, int out)
{
    runPanel->addEvent(Result { static_cast<double>(frame), x, y, in, out, {} });
}

void MainWindow::ModeVideo(statemode mode)
{
    switch (mode) {
    case ModeClosed:
        closeVideo();
        // Nothing is left to play.
        playback->stopPlaying();
        controls->enableClosed();
        playback->clearProperties();
        zoneEditor->reset();
        ui->la_mouse->clear();
        controls->showRecordingStart(QString());
        ClearResult();
        updateProcessButton();
        break;

    case ModeView:
        if (!openVideo(ProcessRun::kStartFrame)) {
            zoneEditor->leave();
            playback->showOpenFailure(videoFile);
            updateProcessButton();
            break;
        }
        showVideoProperties();
        ui->tv_result->setEnabled(true);
        ClearResult();
        runPanel->loadResults(videoFile);
        playback->pause();
        controls->enableViewing(fileTable->hasMask(videoFile));
        updateProcessButton();
        playback->restartTimer();
        break;

    case ModeProcess:
        closeVideo();
        // The controls stay locked for a video that is skipped as well: the
        // run goes on with the next one.
        openVideo(ProcessRun::kStartFrame);
        controls->enableRunning();
        break;

    case ModeProcessEnd:
    case ModeProcessCancel: {
        if (mode == ModeProcessEnd)
            closeVideo();
        const bool shown = playback->hasFrame();
        if (mode == ModeProcessCancel && shown) {
            // The run drew the boxes of the video it started on: the video
            // stopped in is edited and saved with its own.
            zoneEditor->loadSaved(videoFile);
            showVideoProperties();
        }
        controls->enableAfterRun(shown, fileTable->hasMask(videoFile), folder->usable());
        ui->pb_algo->setText(tr("Process"));
        // The caption follows the command, as everywhere else Pause is set:
        // a run started while playing would otherwise come back reading "Pause".
        playback->pause();
        updateProcessButton();
        playback->wake();
        break;
    }
    }
}

void MainWindow::nextFile()
{
    RunDriver &driver = runPanel->driver();
    if (driver.next().isEmpty()) {
        // Relisted while the command still ignores the row that refresh
        // makes current again: the video reopens once, below.
        fileTable->refresh();
        ModeVideo(ModeProcessEnd);
        ui->tv_result->setEnabled(true);
        videoFile = QDir::fromNativeSeparators(processStartFile);
        playback->pause();
        ModeVideo(ModeView);
        fileTable->showPath(videoFile);
        driver.step(); // over
        runPanel->showEnd();
        resultWindows->countsChanged();
        return;
    }

    videoFile = QDir::fromNativeSeparators(driver.next());
    // openVideo hands the opening to the run, which refuses a video it
    // cannot process before any of its files is touched.
    ModeVideo(ModeProcess);
    if (playback->isOpen()) {
        runPanel->startVideo();
        // The path, the properties and the row name the video in progress.
        showVideoProperties();
        playback->setCommand(Playback::Command::ProcessFrame);
    }
    fileTable->refresh();
    fileTable->showPath(videoFile);
    runPanel->showProgress(videoFile, playback->position());
}

void MainWindow::videoEnded(const RunDriver::VideoEnd &end)
{
    // A cancel is the caller's; a video refused at its opening leaves the
    // command to nextFile.
    if (!end.started || end.outcome == RunDriver::Outcome::Cancelled)
        return;
    resultWindows->countsChanged();
    playback->setCommand(Playback::Command::NextFile);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!zoneEditor->dropEditing(tr("close the window"))) {
        event->ignore();
        return;
    }
    if (playback->running()) {
        const QString question = tr("%1 is being processed. Stop processing and close the window?")
                                     .arg(QFileInfo(videoFile).fileName());
        if (!fileDialogs->question(this, tr("Stop processing?"), question)) {
            event->ignore();
            return;
        }
        // Every count reported so far is in its count file already.
        runPanel->driver().cancel();
        ModeVideo(ModeProcessCancel);
    }
    playback->stopTimer();
    runPanel->closeTrajectory();
    QMainWindow::closeEvent(event);
}

void MainWindow::on_pushButton_2_clicked()
{
    if (playback->askSaving(*fileDialogs))
        playback->wake();
}

bool MainWindow::openVideo(int startFrame)
{
    // A batch keeps the boxes that were current when it started.
    if (playback->command() == Playback::Command::NextFile) {
        if (!runPanel->openNext(startFrame))
            return false;
    } else {
        zoneEditor->loadSaved(videoFile);
        if (!playback->open(videoFile, startFrame))
            return false;
    }
    zoneEditor->setIdle();
    return true;
}

void MainWindow::closeVideo()
{
    zoneEditor->leave();
    playback->close();
}

QString MainWindow::processBlockReason() const
{
    return RunPanel::blockReason(
        videoFile, playback->hasFrame(), zoneEditor->editing(), fileTable->hasMask(videoFile));
}

void MainWindow::updateProcessButton()
{
    const bool running = playback->running();
    runPanel->showProcessState(
        running, running ? QString() : processBlockReason(), zoneEditor->editing());
}

void MainWindow::showVideoProperties()
{
    playback->showProperties(videoFile);
    controls->showRecordingStart(videoFile);
}

void MainWindow::showEvent(QShowEvent *event)
{
    page->fitOnFirstShow(screen());
    QMainWindow::showEvent(event);
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && zoneEditor->editing()) {
        zoneEditor->cancelEditing();
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}
