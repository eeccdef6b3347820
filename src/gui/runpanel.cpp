#include "runpanel.h"

#include <limits>

#include <opencv2/imgproc.hpp>

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QStatusBar>

#include "imagewindow.h"
#include "logging.h"
#include "playback.h"
#include "run/processrun.h"
#include "tableviewfile.h"
#include "tableviewresult.h"
#include "zones/resultfile.h"
#include "zones/videoreview.h"

namespace {
// addResult appends while the list holds at most this many records.
constexpr int resultLimit = 2000;
// A processed frame's counts are appended, all of them, while the list holds
// at most this many.
constexpr int processResultLimit = 1999;
// The speed in the status bar is measured over this many frames, or this
// long when frames are slow.
constexpr int speedFrameSpan = 10;
constexpr qint64 speedPeriodMs = 500;
// Every frame is processed, but drawing and showing a large one costs as much
// as processing it: while processing, a frame is shown at most every this many ms.
constexpr qint64 displayPeriod = 200;
} // namespace

RunPanel::RunPanel(QMainWindow *window, Playback *playback, TableViewResult *table,
    QWidget *process, QLabel *progress, const QComboBox *counting)
    : QObject(window)
    , window(window)
    , playback(playback)
    , resultTable(table)
    , processButton(process)
    , progressLabel(progress)
    , countingChoice(counting)
{
    connect(&run, &RunDriver::videoEnded, this, &RunPanel::videoEnded);
    connect(&run, &RunDriver::frameProcessed, this, &RunPanel::eventsCounted);
}

RunPanel::~RunPanel() = default;

void RunPanel::setProcessControls(QWidget *processing, QLabel *hint)
{
    processingChoice = processing;
    processHint = hint;
}

QString RunPanel::blockReason(const QString &video, bool shown, bool editing, bool boxesSaved)
{
    if (!shown)
        return tr("Process is disabled: no video is open.");
    if (editing)
        return tr("Process is disabled: a box is being edited; save or cancel it first.");
    if (boxesSaved)
        return QString();
    AreaContour saved;
    saved.loadArea(video);
    saved.loadMask(video);
    const bool area = AreaContour::usableBox(saved.getArea(), AreaContour::minAreaPoints);
    const bool mask = AreaContour::usableBox(saved.getMask(), AreaContour::minMaskPoints);
    if (area)
        return tr("Process is disabled: the video has no saved tracking box.");
    if (mask)
        return tr("Process is disabled: the video has no saved counting box.");
    return tr("Process is disabled: the video has no saved counting box and tracking box.");
}

void RunPanel::showProcessState(bool running, const QString &reason, bool editing)
{
    // "Cancel" stays at hand for the whole run.
    processButton->setEnabled(running || reason.isEmpty());
    processingChoice->setEnabled(!running && reason.isEmpty());
    processButton->setToolTip(reason);
    // While a box is drawn the status bar says how; the tip says why.
    processHint->setText(running || editing ? QString() : reason);
}

CountingMethod::Kind RunPanel::counting() const
{
    CountingMethod::Kind kind = CountingMethod::Classic;
    if (countingChoice)
        CountingMethod::kindFromName(countingChoice->currentData().toString(), &kind);
    return kind;
}

bool RunPanel::chooseBoxes(const QString &current, const AreaContour &zones,
    const QStringList &queue, QHash<QString, AreaContour> &own)
{
    own.clear();
    const QHash<QString, AreaContour> found = RunDriver::ownBoxes(current, zones, queue);
    if (found.isEmpty())
        return true;
    QStringList differing;
    for (const QString &path : queue) {
        if (found.contains(path) && !differing.contains(QFileInfo(path).fileName()))
            differing << QFileInfo(path).fileName();
    }
    QMessageBox box(QMessageBox::Question, tr("Boxes"),
        differing.size() == 1 ? tr("1 video has its own boxes.")
                              : tr("%1 videos have their own boxes.").arg(differing.size()),
        QMessageBox::NoButton, window);
    box.setObjectName(QStringLiteral("boxesQuestion"));
    box.setInformativeText(differing.join(QLatin1Char('\n')));
    QPushButton *each = box.addButton(tr("Count each with its own boxes"), QMessageBox::AcceptRole);
    box.addButton(tr("Count with the boxes of %1").arg(QFileInfo(current).fileName()),
        QMessageBox::AcceptRole);
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

bool RunPanel::start(const QString &current, const AreaContour &zones, const cv::Size &frameSize,
    const QStringList &queue, bool exportTracks)
{
    QHash<QString, AreaContour> own;
    if (!chooseBoxes(current, zones, queue, own))
        return false;
    run.setCounting(counting());
    run.setTrackExport(exportTracks);
    // The mask and the counting segments are built once, for the frame size
    // of the open video, and serve every video of the run.
    run.start(zones, frameSize, queue, own);
    clearResults();
    skippedOrFailed = 0;
    failures.clear();
    window->statusBar()->clearMessage();
    qCDebug(lcGui) << "Processing" << queue.size() << "videos";
    return true;
}

std::optional<double> RunPanel::frameToShow(int row) const
{
    if (row < 0 || row >= list.size())
        return std::nullopt;
    // A count file edited by hand may hold any number; only a frame index
    // can be sought (a huge value would overflow inside the video reader).
    // The count file gives the frame read before the one in which the
    // insect was counted.
    const double target = list.at(row).frame + 1;
    if (!(target >= 0 && target <= std::numeric_limits<int>::max()))
        return std::nullopt;
    return target;
}

bool RunPanel::openNext(int startFrame)
{
    // The run opens a queued video itself, with its frame 90 read, and
    // refuses one it cannot process before touching any of its files.
    run.step();
    return run.inVideo() && playback->adopt(run.reader(), run.current().startFrame(), startFrame);
}

void RunPanel::startVideo()
{
    clearResults();
    speedClock.start();
    speedFrames = 0;
    speed = 0;
    shownClock.invalidate();
}

void RunPanel::processFrame(const QString &video, bool trajectory)
{
    run.step();
    const FrameReader::Frame *processed = run.lastFrame();
    if (!processed)
        return;
    // The frame number and the progress are painted with every frame: a
    // label kept from painting may come back blank.
    if (!shownClock.isValid() || shownClock.elapsed() >= displayPeriod) {
        shownClock.start();
        run.reader().colourOf(*processed, picture);
        targetOverlay.draw(picture, run.current().tracked());
        playback->showPicture(picture);
        if (trajectory)
            showTrajectory();
    }
    playback->setPosition(run.current().position());
    frameDone(video, playback->position());
}

void RunPanel::stop(const QString &video)
{
    const bool reading = run.inVideo();
    cv::Mat shown;
    if (reading && run.lastFrame())
        run.reader().colourOf(*run.lastFrame(), shown);
    run.cancel();
    if (reading)
        playback->resume(video, shown);
}

void RunPanel::frameDone(const QString &video, double position)
{
    ++speedFrames;
    const qint64 elapsed = speedClock.nsecsElapsed();
    if (elapsed > 0 && (speedFrames >= speedFrameSpan || elapsed >= speedPeriodMs * 1000000)) {
        speed = speedFrames * 1e9 / static_cast<double>(elapsed);
        speedFrames = 0;
        speedClock.restart();
    }
    showProgress(video, position);
}

void RunPanel::showProgress(const QString &video, double position)
{
    QString text = tr("Video %1 of %2 (%3), frame %4")
                       .arg(run.videoIndex())
                       .arg(run.totals().queued)
                       .arg(QFileInfo(video).fileName())
                       .arg(position, 0, 'g', 6);
    if (speed > 0)
        text += tr(", %1 frames per second").arg(speed, 0, 'f', 1);
    progressLabel->setText(text);
}

void RunPanel::showEnd()
{
    progressLabel->setText(tr("Processing done: %1 processed, %2 skipped or failed")
                               .arg(run.totals().queued - skippedOrFailed)
                               .arg(skippedOrFailed));
    if (failures.isEmpty())
        return;
    // Not modal: the run is over and the window goes on.
    auto *box = new QMessageBox(QMessageBox::Warning, tr("Processing"),
        tr("%n video(s) could not be completed; their earlier results are unchanged.", nullptr,
            failures.size()),
        QMessageBox::Ok, window);
    box->setObjectName(QStringLiteral("processingFailures"));
    box->setInformativeText(failures.join(QLatin1Char('\n')));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void RunPanel::showCancelled(double position)
{
    progressLabel->setText(tr("Processing cancelled at frame %1").arg(position, 0, 'g', 6));
}

void RunPanel::videoEnded(const RunDriver::VideoEnd &end)
{
    const QString video = QDir::toNativeSeparators(end.video);
    QString text;
    if (!end.started && end.outcome != RunDriver::Outcome::Cancelled)
        text = tr("Skipped %1: %2").arg(video, end.reason);
    else if (end.outcome == RunDriver::Outcome::Failed)
        text = tr("Failed %1: %2").arg(video, end.reason);
    else if (end.outcome == RunDriver::Outcome::EndedEarly)
        text = tr("%1: %2").arg(video, end.reason);
    if (!text.isEmpty())
        say(text);
    if (end.outcome == RunDriver::Outcome::Failed)
        failures << text;
    if (end.outcome == RunDriver::Outcome::Failed || end.outcome == RunDriver::Outcome::Skipped)
        ++skippedOrFailed;
    if (!end.writeErrors.isEmpty())
        say(tr("Cannot write %1").arg(end.writeErrors.join(QStringLiteral("; "))));
}

void RunPanel::say(const QString &text)
{
    qCWarning(lcGui).noquote() << text;
    window->statusBar()->showMessage(text);
}

void RunPanel::eventsCounted(const QVector<Result> &events)
{
    // A frame's counts go in whole or not at all.
    if (events.isEmpty())
        return;
    // The totals take every event; the list stops at its limit.
    for (const Result &event : events) {
        totalIn += event.in;
        totalOut += event.out;
    }
    totalEvents += events.size();
    if (list.size() <= processResultLimit)
        list.append(events);
    showResults();
}

void RunPanel::clearResults()
{
    list.clear();
    totalIn = 0;
    totalOut = 0;
    totalEvents = 0;
    showResults();
}

void RunPanel::addResult(const Result &result)
{
    if (list.size() <= resultLimit)
        list.append(result);
}

void RunPanel::addEvent(const Result &result)
{
    list.append(result);
    totalIn += result.in;
    totalOut += result.out;
    ++totalEvents;
    showResults();
}

void RunPanel::loadResults(const QString &video)
{
    list.clear();
    totalIn = 0;
    totalOut = 0;
    totalEvents = 0;
    ResultFile file;
    if (file.open(video, ResultFile::Read) == 1) {
        Result record;
        // Every record counts in the totals; addResult lists the first ones.
        while (file.readRecord(
                   record.frame, record.x, record.y, record.in, record.out, record.timestamp)
            != -1) {
            totalIn += record.in;
            totalOut += record.out;
            ++totalEvents;
            addResult(record);
        }
        file.close();
    }
    showResults();
}

void RunPanel::showResults()
{
    resultTable->setResults(list, totalIn, totalOut, totalEvents);
    emit resultsChanged();
}

void RunPanel::showTrajectory()
{
    cv::Mat image = run.trajectoryImage();
    if (image.empty() || image.type() != CV_8UC3)
        return;
    const QSize imageSize(image.cols, image.rows);
    if (!trajectory || trajectoryImageSize != imageSize) {
        if (!trajectory) {
            trajectory = std::make_unique<ImageWindow>(window, QString());
            trajectory->setObjectName(QStringLiteral("trajectoryWindow"));
        }
        // Beside the window and scaled to the screen, so that the density
        // banner at its foot shows and "Process" stays free.
        const QRect process(processButton->mapToGlobal(QPoint(0, 0)), processButton->size());
        trajectoryShownSize = trajectory->placeBeside(window, process, imageSize);
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
    const QString density = run.current().densityText();
    const QRect box = painter.fontMetrics().boundingRect(density).adjusted(-4, -2, 4, 2);
    painter.fillRect(box.translated(-box.topLeft()), QColor(255, 0, 0));
    painter.setPen(QColor(255, 255, 0));
    painter.drawText(box.translated(-box.topLeft()), Qt::AlignCenter, density);
    painter.end();
    const QString title
        = tr("Trajectories of %1 - Kestrin").arg(QFileInfo(run.current().video()).fileName());
    if (trajectory->windowTitle() != title)
        trajectory->setWindowTitle(title);
    trajectory->showImage(shown);
}

void RunPanel::closeTrajectory()
{
    if (trajectory)
        trajectory->close();
}

void RunPanel::markReviewed(const QString &video)
{
    VideoReview review;
    QString problem;
    if (!review.open(video, &problem) || review.events().size() != list.size())
        return;
    QVector<ReviewFile::Decision> decisions;
    for (int i = 0; i < list.size(); ++i)
        decisions.append(review.decision(i));
    resultTable->markDecisions(decisions);
}

QStringList RunPanel::queue(int choice, const TableViewFile &files, const QString &video)
{
    switch (choice) {
    case ProcessRun::Unprocessed:
        // As the "done" column shows them when "Process" is pressed.
        return files.videosWithoutCounts();
    case ProcessRun::One:
        return { video };
    case ProcessRun::All:
        return files.videos();
    default:
        return {};
    }
}
