#include "playback.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGraphicsView>
#include <QLabel>
#include <QPoint>
#include <QSlider>
#include <QStatusBar>
#include <QStringList>
#include <QTimer>

#include "ui_mainwindow.h"

#include "filedialogprovider.h"
#include "imagegraphicsview.h"
#include "logging.h"
#include "run/processrun.h"
#include "video/framereader.h"
#include "zones/areacontour.h"
#include "zones/videofiles.h"

namespace {
constexpr double defaultFps = 25.0;
// Fast forward and reverse move by this many frames.
constexpr double fastStep = 10;
// A run ticks as fast as the event loop allows, one frame per tick.
constexpr int runInterval = 1;

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
} // namespace

Playback::Playback(Ui::MainWindow &form, QStatusBar *statusBar, QObject *parent)
    : QObject(parent)
    , ui(form)
    , frameTimer(new QTimer(this))
    , status(statusBar)
{
    view = new ImageGraphicsView(&geometry, ui.gv_video, this);
    connect(view, &ImageGraphicsView::saveFailed, this,
        [this](const QString &file, const QString &reason) {
            status->showMessage(tr("The picture could not be saved to %1: %2")
                                    .arg(QDir::toNativeSeparators(file), reason));
        });
}

void Playback::step(Command command)
{
    next = command;
    wake();
}

void Playback::togglePlay()
{
    restartTimer();
    const bool play = next != Command::Play;
    next = play ? Command::Play : Command::Pause;
    ui.pb_play_pause->setText(play ? tr("Pause") : tr("Play"));
}

void Playback::pause()
{
    next = Command::Pause;
    ui.pb_play_pause->setText(tr("Play"));
}

void Playback::stopPlaying()
{
    if (next == Command::Play)
        pause();
}

void Playback::wake()
{
    if (!running() && !frameTimer->isActive())
        restartTimer();
}

void Playback::restartTimer()
{
    frameTimer->start(interval());
}

void Playback::startRun()
{
    next = Command::NextFile;
    frameTimer->stop();
    frameTimer->start(runInterval);
}

void Playback::stopTimer()
{
    frameTimer->stop();
}

void Playback::tick()
{
    // A step command ends as Pause, so its frame is drawn by the Pause redraw
    // of the same tick.
    bool stepped = true;
    switch (next) {
    case Command::Seek:
        seek();
        break;
    case Command::SlowForward:
        slowForward();
        break;
    case Command::FastForward:
        fastForward();
        break;
    case Command::SlowReverse:
        slowReverse();
        break;
    case Command::FastReverse:
        fastReverse();
        break;
    case Command::ShowResult:
        // moveTo has moved the capture already.
        readOn();
        break;
    default:
        stepped = false;
        break;
    }
    if (stepped)
        pause();
    // Goes on in the same tick with the command it sets: the first frame of
    // a video is processed at once, the reopened video redrawn.
    if (next == Command::NextFile)
        emit nextFileDue();
    if (next == Command::Play)
        playOn();
    if (next == Command::Pause) {
        showFrame();
        // Drawn: nothing to do until something changes and wakes the timer.
        frameTimer->stop();
    }
    if (next == Command::ProcessFrame)
        emit frameDue();

    // Every tick ends here, whatever its command.
    showPosition();
}

int Playback::interval(double fps)
{
    const double rate = std::isfinite(fps) && fps > 0 ? fps : defaultFps;
    return cutToInt(500.0 / rate);
}

bool Playback::open(const QString &video, int startFrame)
{
    openFailure.clear();
    if (!VideoFiles::openCapture(capture, video) || !capture.isOpened()) {
        openFailure = tr("it cannot be opened as a video");
        return false;
    }
    opened = true;
    frameHeight = cutToInt(capture.get(cv::CAP_PROP_FRAME_HEIGHT));
    frameWidth = cutToInt(capture.get(cv::CAP_PROP_FRAME_WIDTH));
    fps = capture.get(cv::CAP_PROP_FPS);
    endFrame = capture.get(cv::CAP_PROP_FRAME_COUNT) - endMargin;
    placeView();
    // A raw stream under an .mp4 name opens, but has no frame count to play
    // or seek by.
    openFailure = ProcessRun::noFrameCount(capture.get(cv::CAP_PROP_FRAME_COUNT));
    if (!openFailure.isEmpty())
        return false;
    if (!readPictureAt(startFrame)) {
        openFailure = tr("it has no frame %1").arg(startFrame);
        return false;
    }
    keepPicture();
    shownIndex = startFrame;
    showFrame();
    return true;
}

bool Playback::adopt(const FrameReader &reader, const cv::Mat &first, int startFrame)
{
    openFailure.clear();
    opened = true;
    frameHeight = reader.frameSize().height;
    frameWidth = reader.frameSize().width;
    fps = reader.fps();
    endFrame = reader.frameCount() - endMargin;
    placeView();
    first.copyTo(current);
    shownIndex = startFrame;
    if (current.empty()) {
        openFailure = tr("it has no frame %1").arg(startFrame);
        return false;
    }
    showFrame();
    return true;
}

void Playback::resume(const QString &video, const cv::Mat &shown)
{
    if (!shown.empty())
        shown.copyTo(current);
    // Viewing reads on from the frame shown.
    if (opened && VideoFiles::openCapture(capture, video))
        capture.set(cv::CAP_PROP_POS_FRAMES, shownIndex + 1);
}

void Playback::placeView()
{
    geometry.setFromFrameSize(frameWidth, frameHeight);
    zoom = false;
    ui.gv_video->resize(geometry.displayWidth() + 2, geometry.displayHeight() + 2);
    ui.gv_video->move(geometry.viewLeft(), geometry.viewTop());
}

void Playback::close()
{
    view->clear();
    if (opened)
        capture.release();
    opened = false;
    // The closed video's frame must not come back with the next redraw.
    current.release();
}

void Playback::showMessage(const QString &text)
{
    view->showMessage(text);
}

void Playback::seek()
{
    // The slider's value stays the position even when nothing is read.
    if (shownIndex >= 0 && shownIndex < endFrame - 1 && readPictureAt(shownIndex))
        keepPicture();
}

void Playback::slowForward()
{
    if (endFrame > shownIndex && readPicture()) {
        keepPicture();
        shownIndex += 1;
    }
}

void Playback::fastForward()
{
    // Seeks rather than decoding ten frames in one tick.
    if (endFrame > shownIndex + fastStep && readPictureAt(shownIndex + fastStep)) {
        keepPicture();
        shownIndex += fastStep;
    }
}

void Playback::slowReverse()
{
    if (shownIndex >= 1 && readPictureAt(shownIndex - 1)) {
        keepPicture();
        shownIndex -= 1;
    }
}

void Playback::fastReverse()
{
    if (shownIndex >= fastStep && readPictureAt(shownIndex - fastStep)) {
        keepPicture();
        shownIndex -= fastStep;
    }
}

void Playback::moveTo(double index)
{
    shownIndex = index;
    capture.set(cv::CAP_PROP_POS_FRAMES, shownIndex);
}

void Playback::readOn()
{
    if (readPicture())
        keepPicture();
}

void Playback::playOn()
{
    // At the end, or past the last frame a video really holds, Play has
    // nothing more to show: the caption stays "Pause" and the window idles
    // until the next click instead of redrawing the same frame every tick.
    if (endFrame <= shownIndex) {
        frameTimer->stop();
        return;
    }
    if (readPicture()) {
        keepPicture();
        shownIndex += 1;
        showPicture(picture);
    } else {
        showFrame();
        frameTimer->stop();
    }
}

void Playback::showPicture(cv::Mat &shown)
{
    if (zones)
        zones->draw(shown);
    view->showImage(shown, zoom, centre.x, centre.y, saveImage, saveImageFile);
}

void Playback::showFrame()
{
    if (current.empty())
        return;
    current.copyTo(picture);
    showPicture(picture);
}

void Playback::showPosition()
{
    ui.la_Num_Frame->setText(QString::number(shownIndex, 'g', 6));
    ui.hs_frame->setValue(cutToInt(shownIndex));
}

void Playback::showProperties(const QString &video)
{
    ui.hs_frame->setMaximum(cutToInt(endFrame));
    ui.hs_frame->setMinimum(0);
    ui.hs_frame->setValue(cutToInt(shownIndex));
    ui.la_height->setText(QString::number(frameHeight));
    ui.la_width->setText(QString::number(frameWidth));
    ui.la_fps->setText(QString::number(fps, 'g', 6));
    // The frame count; playback stops 5 frames short of it.
    ui.la_frame->setText(QString::number(endFrame + endMargin, 'g', 6));
    ui.la_Num_Frame->setText(QString::number(shownIndex, 'g', 6));
    // A long path is cut in the middle on screen and shown whole in the tip.
    ui.la_file_selected->setToolTip(QDir::toNativeSeparators(video));
    ui.la_file_selected->setText(ui.la_file_selected->fontMetrics().elidedText(
        video, Qt::ElideMiddle, ui.la_file_selected->width()));
}

void Playback::clearProperties()
{
    ui.la_height->clear();
    ui.la_width->clear();
    ui.la_fps->clear();
    ui.la_frame->clear();
    ui.la_file_selected->clear();
    ui.la_file_selected->setToolTip(QString());
}

cv::Point Playback::toFrame(const QPoint &viewPoint) const
{
    if (!zoom)
        return cv::Point(geometry.toFrameX(viewPoint.x()), geometry.toFrameY(viewPoint.y()));
    // The same window that the image view cuts out of the frame.
    const cv::Rect window = ImageGraphicsView::zoomWindow(frameSize(), centre.x, centre.y);
    return cv::Point(viewPoint.x() + window.x, viewPoint.y() + window.y);
}

void Playback::toggleZoom(const QPoint &viewPoint)
{
    if (frameWidth > 640 && frameHeight > 480) {
        zoom = !zoom;
        // The centre is taken through the geometry whatever the zoom was.
        centre = cv::Point(geometry.toFrameX(viewPoint.x()), geometry.toFrameY(viewPoint.y()));
    } else {
        zoom = false;
    }
}

void Playback::setZoom(bool on, const cv::Point &at)
{
    zoom = on;
    centre = at;
}

bool Playback::askSaving(FileDialogProvider &dialogs)
{
    const QStringList kinds { tr("jpg (*.jpg)"),
        tr("Full frame, %1 x %2, once (*.jpg)").arg(frameWidth).arg(frameHeight) };
    int kind = 0;
    QString file = dialogs.saveImageName(tr("Save as..."), kinds, kind);
    // A name without an image suffix would match no image writer.
    if (!file.isEmpty() && !cv::haveImageWriter(QFile::encodeName(file).toStdString()))
        file += QStringLiteral(".jpg");
    if (kind == 1 && !file.isEmpty()) {
        saveFullFrame(file);
        return false;
    }
    // A cancelled dialog empties the target, which stops the saving.
    saveImageFile = file;
    if (saveImageFile.isEmpty())
        return false;
    saveImage = true;
    return true;
}

void Playback::saveFullFrame(const QString &file)
{
    if (current.empty())
        return;
    current.copyTo(picture);
    if (zones)
        zones->draw(picture);
    const QString reason = ImageGraphicsView::writePicture(picture, file);
    const QString name = QDir::toNativeSeparators(file);
    if (!reason.isEmpty()) {
        qCWarning(lcGui).noquote() << "Frame not saved to" << file << ":" << reason;
        status->showMessage(tr("The picture could not be saved to %1: %2").arg(name, reason));
        return;
    }
    status->showMessage(tr("Frame %1 saved to %2 (%3 x %4).")
                            .arg(shownIndex)
                            .arg(name)
                            .arg(frameWidth)
                            .arg(frameHeight));
}

bool Playback::readPicture()
{
    return capture.read(picture) && !picture.empty();
}

bool Playback::readPictureAt(double index)
{
    capture.set(cv::CAP_PROP_POS_FRAMES, index);
    return readPicture();
}

void Playback::keepPicture()
{
    picture.copyTo(current);
}

void Playback::showOpenFailure(const QString &video)
{
    const QString reason = openFailure.isEmpty() ? tr("it cannot be opened") : openFailure;
    close();
    const QString name = QFileInfo(video).fileName();
    showMessage(tr("%1 cannot be shown: %2.").arg(name, reason));
    status->showMessage(tr("%1 cannot be shown: %2.").arg(QDir::toNativeSeparators(video), reason));
    qCWarning(lcGui).noquote() << "Cannot show" << video << ":" << reason;
}
