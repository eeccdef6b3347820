#pragma once

#include <functional>

#include <opencv2/core/types.hpp>

#include <QObject>
#include <QString>

#include "zones/areacontour.h"

class Playback;
class QMainWindow;
class QScrollArea;
class QWidget;
class TableViewFile;

namespace Ui {
class MainWindow;
}

// The boxes of the open video and their editing with the mouse: drawing the
// counting or the tracking box, shifting both, saving or cancelling, and the
// buttons that go with it. The edit state lives here only; the zone model's
// drawing mode follows from it.
class ZoneEditor final : public QObject
{
    Q_OBJECT

public:
    enum class State {
        None, // no video
        Idle, // boxes shown as saved
        DrawingArea, // the counting box is being drawn
        DrawingMask, // the tracking box is being drawn
        Shifting, // shift started, not dragged yet
        Shifted, // shift dragged: the shifted boxes are shown
    };
    Q_ENUM(State)

    // AreaContour's drawing mode for `state`.
    static int contourMode(State state);
    // A box is being drawn or shifted and not saved.
    static bool isEditing(State state);

    ZoneEditor(Ui::MainWindow &ui, const Playback &playback, TableViewFile &files,
        QMainWindow *window, QScrollArea *page);
    Q_DISABLE_COPY(ZoneEditor)
    ~ZoneEditor() override;

    // The current video, "/" as separator.
    void setVideoSource(std::function<QString()> video);
    // Asks the user; true to go on.
    void setQuestion(std::function<bool(const QString &title, const QString &text)> ask);

    const AreaContour &zones() const { return boxes; }
    State state() const { return current; }
    bool editing() const { return isEditing(current); }
    // Frame position of the last press on the video view.
    cv::Point lastPress() const { return pressed; }

    // Reads the saved boxes of `video`.
    void loadSaved(const QString &video);
    // The files of `video` changed on disk (the table was relisted): the
    // saved boxes are read again, but a box being drawn or shifted is kept,
    // buttons and all; only the other box is read while one is drawn.
    void reloadSaved(const QString &video);
    // No video: nothing can be edited.
    void reset();
    // A video is shown with its saved boxes.
    void setIdle();
    // Drops an edit in progress: the override cursor and a shift or drawing
    // mode must not outlive the video they were started on.
    void leave();

    // The counting box (the area, where insects are counted) or the tracking
    // box (the mask, where they are followed).
    enum class Box { Counting, Tracking };

    // The buttons of the two boxes and of the shift.
    void clearBox(Box box);
    void saveBox(Box box);
    void cancelBox(Box box);
    void startShift();
    void saveShift();
    void cancelShift();

    // The mouse on the video view, at frame pixel `point`. press adds a
    // corner to the box being drawn; closeBox, on a double click, closes
    // it and is false when no box is drawn.
    void press(const cv::Point &point);
    bool closeBox();
    void move(const cv::Point &point, bool leftButton);

    // Asks before an unsaved box is dropped for `action`; true to go on.
    bool dropEditing(const QString &action);
    // Escape: drops the box being drawn or shifted, as its "Cancel".
    void cancelEditing();

    // Enables the six box buttons and the shift's "Start", with the shift's
    // "Save" and "Cancel" too when withShiftEnd is set; the shift group only
    // for a video whose two box files exist.
    void enableButtons(bool withShiftEnd);

signals:
    // The picture is to be redrawn and "Process" judged again.
    void changed();

private:
    static QString boxName(Box box);
    void setState(State state);
    bool frameShown() const;
    // Tells how to draw a box, and brings its buttons into view.
    void startEditing(QWidget *group, const QString &box);
    // A box is saved or cancelled: cursor and hint go, the picture is redrawn.
    void endEditing();
    // Warns when the box files just written do not hold the saved boxes.
    void checkSaved(bool area, bool mask);
    // The cross-hair is the application's override cursor while a box is
    // drawn; at most one override of ours is ever on the stack.
    void setCrossCursor();
    void restoreCursor();

    Ui::MainWindow &ui;
    const Playback &playback;
    TableViewFile &files;
    QMainWindow *window;
    QScrollArea *page;
    std::function<QString()> video;
    std::function<bool(const QString &, const QString &)> ask;
    AreaContour boxes;
    State current = State::None;
    cv::Point pressed;
    bool crossCursor = false; // our override cursor is on the stack
    QString editHint; // how to draw the box being drawn, in the status bar
};
