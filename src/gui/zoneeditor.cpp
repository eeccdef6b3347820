#include "zoneeditor.h"

#include <initializer_list>
#include <utility>

#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>

#include "ui_mainwindow.h"

#include "logging.h"
#include "playback.h"
#include "tableviewfile.h"
#include "zones/videofiles.h"

namespace {
void enable(bool enabled, std::initializer_list<QWidget *> controls)
{
    for (QWidget *control : controls)
        control->setEnabled(enabled);
}
} // namespace

int ZoneEditor::contourMode(State state)
{
    switch (state) {
    case State::DrawingArea:
        return 1;
    case State::DrawingMask:
        return 2;
    case State::Shifted:
        return 3;
    case State::None:
    case State::Idle:
    case State::Shifting:
        break;
    }
    return 0;
}

bool ZoneEditor::isEditing(State state)
{
    return state == State::DrawingArea || state == State::DrawingMask || state == State::Shifting
        || state == State::Shifted;
}

ZoneEditor::ZoneEditor(Ui::MainWindow &form, const Playback &shown, TableViewFile &table,
    QMainWindow *mainWindow, QScrollArea *pageArea)
    : QObject(mainWindow)
    , ui(form)
    , playback(shown)
    , files(table)
    , window(mainWindow)
    , page(pageArea)
    , video([] { return QString(); })
    , ask([](const QString &, const QString &) { return true; })
{
}

ZoneEditor::~ZoneEditor()
{
    // The override cursor is application-wide: a window destroyed in the
    // middle of drawing a box must not leave the cross-hair behind.
    restoreCursor();
}

void ZoneEditor::setVideoSource(std::function<QString()> source)
{
    video = std::move(source);
}

void ZoneEditor::setQuestion(std::function<bool(const QString &, const QString &)> question)
{
    ask = std::move(question);
}

void ZoneEditor::setState(State state)
{
    current = state;
    boxes.setMode(contourMode(state));
}

bool ZoneEditor::frameShown() const
{
    return playback.hasFrame();
}

void ZoneEditor::loadSaved(const QString &path)
{
    boxes.loadArea(path);
    boxes.loadMask(path);
}

void ZoneEditor::reloadSaved(const QString &path)
{
    switch (current) {
    case State::DrawingArea:
        boxes.loadMask(path);
        return;
    case State::DrawingMask:
        boxes.loadArea(path);
        return;
    case State::Shifting:
    case State::Shifted:
        return;
    case State::None:
    case State::Idle:
        break;
    }
    leave();
    setIdle();
    loadSaved(path);
    enableButtons(true);
}

void ZoneEditor::reset()
{
    setState(State::None);
}

void ZoneEditor::setIdle()
{
    setState(State::Idle);
}

void ZoneEditor::leave()
{
    restoreCursor();
    // A shift or a half-drawn box belongs to the video being closed: the next
    // video shows and saves its own boxes.
    setState(current == State::None ? State::None : State::Idle);
}

void ZoneEditor::clearBox(Box box)
{
    const bool area = box == Box::Counting;
    setState(area ? State::DrawingArea : State::DrawingMask);
    if (area)
        boxes.clearArea();
    else
        boxes.clearMask();
    setCrossCursor();
    // The other box and the shift wait until this one is saved or cancelled.
    enable(false,
        { area ? ui.pb_cleararea : ui.pb_clearmask, area ? ui.pb_clearmask : ui.pb_cleararea,
            area ? ui.pb_savemask : ui.pb_savearea, area ? ui.pb_cancelmask : ui.pb_cancelarea,
            ui.pb_movebox, ui.pb_savebox, ui.pb_cancelbox });
    startEditing(area ? ui.groupBox : ui.groupBox_2, boxName(box));
}

void ZoneEditor::saveBox(Box box)
{
    if (!frameShown())
        return;
    const bool area = box == Box::Counting;
    const int needed = area ? AreaContour::minAreaPoints : AreaContour::minMaskPoints;
    if (!AreaContour::usableBox(area ? boxes.getArea() : boxes.getMask(), needed)) {
        // Still drawing: the user can add the missing points or cancel.
        window->statusBar()->showMessage(
            tr("The %1 needs at least %2 different points; it was not saved.")
                .arg(boxName(box))
                .arg(needed));
        return;
    }
    setState(State::Idle);
    if (area)
        boxes.saveArea(video());
    else
        boxes.saveMask(video());
    checkSaved(area, !area);
    endEditing();
    files.refresh();
    enableButtons(true);
    emit changed();
}

void ZoneEditor::cancelBox(Box box)
{
    setState(State::Idle);
    if (box == Box::Counting)
        boxes.loadArea(video());
    else
        boxes.loadMask(video());
    endEditing();
    enableButtons(true);
    emit changed();
}

QString ZoneEditor::boxName(Box box)
{
    return box == Box::Counting ? tr("counting box") : tr("tracking box");
}

void ZoneEditor::startShift()
{
    if (!frameShown())
        return;
    // A shift already dragged stays shown.
    if (current != State::Shifted)
        setState(State::Shifting);
    enable(false,
        { ui.pb_cleararea, ui.pb_savearea, ui.pb_cancelarea, ui.pb_clearmask, ui.pb_savemask,
            ui.pb_cancelmask, ui.pb_movebox });
    startEditing(ui.groupBox_5, QString());
}

void ZoneEditor::saveShift()
{
    // Only the boxes of the open video, shifted from a saved pair, are saved.
    if (!frameShown() || (current != State::Shifting && current != State::Shifted))
        return;
    // Once dragged, each save first takes over the shifted points.
    boxes.saveMask(video());
    boxes.saveArea(video());
    checkSaved(true, true);
    setState(State::Idle);
    files.refresh();
    endEditing();
    enableButtons(false);
    emit changed();
}

void ZoneEditor::cancelShift()
{
    // Back in Idle the unshifted boxes are drawn again; the files were not touched.
    setState(State::Idle);
    boxes.loadMask(video());
    endEditing();
    enableButtons(false);
    emit changed();
}

void ZoneEditor::press(const cv::Point &point)
{
    pressed = point;
    if (current == State::DrawingArea)
        boxes.addAreaPoint(point);
    else if (current == State::DrawingMask)
        boxes.addMaskPoint(point);
}

bool ZoneEditor::closeBox()
{
    // The first click of the double click has already added its point as a press.
    if (current == State::DrawingArea)
        boxes.closeArea();
    else if (current == State::DrawingMask)
        boxes.closeMask();
    else
        return false;
    return true;
}

void ZoneEditor::move(const cv::Point &point, bool leftButton)
{
    if (current != State::None)
        ui.la_mouse->setText(QStringLiteral("mouse x: %1 y:%2").arg(point.x).arg(point.y));
    else
        ui.la_mouse->setText(QString());

    const cv::Size size = playback.frameSize();
    const bool inFrame
        = point.x >= 0 && point.x <= size.width && point.y >= 0 && point.y <= size.height;
    if ((current == State::Shifting || current == State::Shifted) && leftButton && inFrame) {
        boxes.shift(pressed - point, size.height, size.width);
        setState(State::Shifted);
        emit changed();
    }
}

bool ZoneEditor::dropEditing(const QString &action)
{
    if (!editing())
        return true;
    const QString box = current == State::DrawingArea ? boxName(Box::Counting)
        : current == State::DrawingMask               ? boxName(Box::Tracking)
                                                      : tr("shift of the boxes");
    const QString question = tr("The %1 of %2 is not saved. Drop it and %3?")
                                 .arg(box, QFileInfo(video()).fileName(), action);
    if (!ask(tr("Unsaved box"), question))
        return false;
    cancelEditing();
    return true;
}

void ZoneEditor::cancelEditing()
{
    if (current == State::DrawingArea)
        cancelBox(Box::Counting);
    else if (current == State::DrawingMask)
        cancelBox(Box::Tracking);
    else if (current == State::Shifting || current == State::Shifted)
        cancelShift();
}

void ZoneEditor::startEditing(QWidget *group, const QString &box)
{
    editHint = box.isEmpty()
        ? tr("Drag on the picture to shift both boxes, then \"Save\"; Escape cancels.")
        : tr("Click the corners of the %1 on the picture, double-click to close it, then "
             "\"Save\"; Escape cancels.")
              .arg(box);
    window->statusBar()->showMessage(editHint);
    // On a small screen the form scrolls: its "Save" must be in view.
    page->ensureWidgetVisible(group);
    emit changed();
}

void ZoneEditor::endEditing()
{
    restoreCursor();
    QStatusBar *status = window->statusBar();
    if (!editHint.isEmpty() && status->currentMessage() == editHint)
        status->clearMessage();
    editHint.clear();
}

void ZoneEditor::enableButtons(bool withShiftEnd)
{
    enable(true,
        { ui.pb_cleararea, ui.pb_savearea, ui.pb_cancelarea, ui.pb_clearmask, ui.pb_savemask,
            ui.pb_cancelmask });
    // As when the video is opened: a shift needs both boxes saved, or its
    // "Save" would write empty box files that mark the video ready.
    const bool shift = playback.isOpen() && files.hasMask(video());
    ui.pb_movebox->setEnabled(shift);
    if (withShiftEnd)
        enable(shift, { ui.pb_savebox, ui.pb_cancelbox });
}

void ZoneEditor::checkSaved(bool area, bool mask)
{
    // The box files are written without a word on failure: read them back.
    AreaContour saved;
    saved.loadArea(video());
    saved.loadMask(video());
    const bool shifted = boxes.getMode() == contourMode(State::Shifted);
    const bool areaKept = saved.getArea() == (shifted ? boxes.getAreaShifted() : boxes.getArea());
    const bool maskKept = saved.getMask() == (shifted ? boxes.getMaskShifted() : boxes.getMask());
    if ((area && !areaKept) || (mask && !maskKept)) {
        const QString text = tr("The boxes of %1 could not be saved in %2.")
                                 .arg(QFileInfo(video()).fileName(),
                                     QDir::toNativeSeparators(VideoFiles::exportDir(video())));
        qCWarning(lcGui).noquote() << text;
        window->statusBar()->showMessage(text);
    }
}

void ZoneEditor::setCrossCursor()
{
    if (crossCursor) {
        QGuiApplication::changeOverrideCursor(QCursor(Qt::CrossCursor));
    } else {
        QGuiApplication::setOverrideCursor(QCursor(Qt::CrossCursor));
        crossCursor = true;
    }
}

void ZoneEditor::restoreCursor()
{
    if (!crossCursor)
        return;
    QGuiApplication::restoreOverrideCursor();
    crossCursor = false;
}
