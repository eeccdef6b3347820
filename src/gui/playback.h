#pragma once

#include <opencv2/core/mat.hpp>
#include <opencv2/core/types.hpp>
#include <opencv2/videoio.hpp>

#include <QObject>
#include <QString>

#include "displaygeometry.h"

class AreaContour;
class FileDialogProvider;
class FrameReader;
class ImageGraphicsView;
class QPoint;
class QStatusBar;
class QTimer;

namespace Ui {
class MainWindow;
}

// The video of the window as it is viewed: the capture, the frame shown and
// its index, the zoom, the picture put into the video view with the boxes
// drawn on it, and the one timer on whose ticks every frame is read. Buttons
// and table selections only set the command the next tick carries out.
// During a run the ticks are the run's (nextFileDue, frameDue): the run
// opens each video and Playback only shows what it hands over (adopt,
// showPicture).
class Playback final : public QObject
{
    Q_OBJECT

public:
    // Playback stops this many frames before the frame count a video reports.
    static constexpr double endMargin = 5;

    // What the next tick does.
    enum class Command {
        Pause,
        Play,
        SlowForward,
        FastForward,
        SlowReverse,
        FastReverse,
        Seek,
        ProcessFrame,
        ShowResult,
        NextFile
    };

    Playback(Ui::MainWindow &ui, QStatusBar *status, QObject *parent);
    Q_DISABLE_COPY(Playback)

    // The boxes drawn into every picture shown.
    void setBoxes(const AreaContour *boxes) { zones = boxes; }

    // Viewing timer interval in ms: 500 / fps cut towards zero, so playback
    // runs at twice the video's rate. A video reporting no usable frame rate
    // is played as 25 fps.
    static int interval(double fps);
    int interval() const { return interval(fps); }

    // Opens `video` for viewing and shows its frame `startFrame`; false with
    // failure() saying why.
    bool open(const QString &video, int startFrame);
    // Shows a video the run has opened: its properties from `reader`, its
    // frame `startFrame` as `first`.
    bool adopt(const FrameReader &reader, const cv::Mat &first, int startFrame);
    // After a run stopped in `video`: `shown` becomes the current frame and
    // viewing reads on after it.
    void resume(const QString &video, const cv::Mat &shown);
    void close();
    bool isOpen() const { return opened; }
    // Why the last open failed; empty when it did not say.
    QString failure() const { return openFailure; }
    // Says in the view that `text`, instead of a picture.
    void showMessage(const QString &text);
    // Closes `video`, which could not be shown, saying why in the view and
    // the status bar.
    void showOpenFailure(const QString &video);

    Command command() const { return next; }
    // Sets the command without waking the timer.
    void setCommand(Command command) { next = command; }
    // Sets a step command and wakes the timer for it.
    void step(Command command);
    // The ticks are a run's: the timer runs however idle the view.
    bool running() const { return next == Command::ProcessFrame || next == Command::NextFile; }
    // Play, or pause while playing; the button's caption follows.
    void togglePlay();
    // Pause, with the caption "Play".
    void pause();
    // Ends Play, which has nothing left to play.
    void stopPlaying();
    // Redraws the paused picture once: the timer stops again after the tick,
    // so an idle window does no work. A run ticks anyway.
    void wake();
    // Ticks at the video's playback rate from now.
    void restartTimer();
    // Ticks as fast as the event loop allows for a run, which opens its
    // first video on the first tick.
    void startRun();
    void stopTimer();
    QTimer *timer() const { return frameTimer; }
    // One tick: the command's step, then the redraw, play or run step it
    // leaves, then the frame number.
    void tick();

    // The step commands of a tick, each at most one frame read.
    void seek();
    void slowForward();
    void fastForward();
    void slowReverse();
    void fastReverse();
    // Reads the frame the capture was moved to by moveTo.
    void readOn();
    // Play: the next frame, or the current one again at the end.
    void playOn();

    // The frame seek reads next.
    void setPosition(double index) { shownIndex = index; }
    // Moves the capture to `index` for readOn.
    void moveTo(double index);
    double position() const { return shownIndex; }
    const cv::Mat &frame() const { return current; }
    bool hasFrame() const { return opened && !current.empty(); }
    cv::Size frameSize() const { return cv::Size(frameWidth, frameHeight); }

    // Draws the boxes into `shown` and puts it into the view as set by the
    // zoom and the "Save image" choice.
    void showPicture(cv::Mat &shown);
    // Shows a copy of the current frame; nothing while no frame is held.
    void showFrame();
    // The frame number and slider, after every tick.
    void showPosition();
    // The properties of the open video beside the view; `video` names it.
    void showProperties(const QString &video);
    void clearProperties();

    // Frame pixel under a position of the video view's viewport, through the
    // display geometry or, while zoomed, the zoom window.
    cv::Point toFrame(const QPoint &viewPoint) const;
    // A double click on the view: a large frame zooms in at `viewPoint` or
    // back out; a small one is never zoomed.
    void toggleZoom(const QPoint &viewPoint);
    bool zoomed() const { return zoom; }
    cv::Point zoomCentre() const { return centre; }
    void setZoom(bool on, const cv::Point &at);

    // "Save image": asks where to, then saves the current frame with its
    // boxes, full size, once, or every picture shown from now on; true for
    // the latter. A cancelled dialog stops the saving.
    bool askSaving(FileDialogProvider &dialogs);
    QString savedTo() const { return saveImageFile; }

signals:
    // The run's ticks, from inside tick(): open the next queued video or
    // end the run; process one frame.
    void nextFileDue();
    void frameDue();

private:
    friend class TestMainWindow;

    // Saves the current frame with its boxes, full size, once.
    void saveFullFrame(const QString &file);

    // Reads the next frame of the capture into `picture`.
    bool readPicture();
    // Moves the capture to `index`, then reads that frame into `picture`.
    bool readPictureAt(double index);
    // Keeps the picture just read as the current frame.
    void keepPicture();
    // Sizes the view for the frame size just read.
    void placeView();

    Ui::MainWindow &ui;
    QTimer *frameTimer;
    Command next = Command::Pause;
    const AreaContour *zones = nullptr;
    QStatusBar *status;
    ImageGraphicsView *view = nullptr;
    DisplayGeometry geometry;
    cv::VideoCapture capture;
    bool opened = false;
    QString openFailure;
    // The current frame, never drawn on; overwritten in place.
    cv::Mat current;
    // The picture drawn on and shown: a frame just read or a copy of
    // `current`. A member so that ticks reuse its buffer.
    cv::Mat picture;
    double shownIndex = 0; // index of the frame shown, a whole number
    int frameHeight = 0;
    int frameWidth = 0;
    double fps = 0;
    double endFrame = 0; // reported frame count - endMargin: playback stops there
    bool zoom = false;
    cv::Point centre; // of the zoom, in frame pixels
    bool saveImage = false;
    QString saveImageFile;
};
