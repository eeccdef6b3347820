#include <memory>
#include <vector>

#include <opencv2/core.hpp>

#include <QAbstractItemModel>
#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "filedialogprovider.h"
#include "graphicsviewmouse.h"
#include "mainwindow.h"
#include "playback.h"
#include "settingsstore.h"
#include "tableviewfile.h"
#include "testfiles.h"
#include "testvideo.h"
#include "windowdriver.h"
#include "zoneeditor.h"

namespace {

using Points = std::vector<cv::Point>;

// Answers the window's dialogs with "cancelled".
const QStringList editButtons { QStringLiteral("pb_cleararea"), QStringLiteral("pb_savearea"),
    QStringLiteral("pb_cancelarea"), QStringLiteral("pb_clearmask"), QStringLiteral("pb_savemask"),
    QStringLiteral("pb_cancelmask"), QStringLiteral("pb_movebox"), QStringLiteral("pb_savebox"),
    QStringLiteral("pb_cancelbox") };

QString boxFile(const QString &video, const char *suffix)
{
    const QFileInfo info(video);
    return info.path() + QStringLiteral("/exportCSV/") + info.completeBaseName()
        + QLatin1String(suffix);
}

// The box files lie in a folder that the window creates only when it opens the video.
bool writeFile(const QString &path, const QByteArray &bytes)
{
    return QDir().mkpath(QFileInfo(path).path()) && testfiles::write(path, bytes);
}

QByteArray krn(const Points &points)
{
    QByteArray text;
    for (const cv::Point &p : points)
        text += QByteArray::number(p.x) + ',' + QByteArray::number(p.y) + '\n';
    return text;
}

Points moved(const Points &points, const QPoint &offset)
{
    Points result;
    for (const cv::Point &p : points)
        result.emplace_back(p.x + offset.x(), p.y + offset.y());
    return result;
}

// Closed boxes of a 320 x 240 frame: the tracking box reaches x 300 and
// y 200, the counting box lies inside it.
const Points areaBox { { 100, 100 }, { 200, 100 }, { 200, 150 }, { 100, 150 }, { 100, 100 } };
const Points maskBox { { 50, 50 }, { 300, 50 }, { 300, 200 }, { 50, 200 }, { 50, 50 } };

} // namespace

class TestZoneEditing : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void mouseLabel_data();
    void mouseLabel();
    void drawBox_data();
    void drawBox();
    void zoomToggle_data();
    void zoomToggle();
    void zoomedClick_data();
    void zoomedClick();
    void shiftDrag_data();
    void shiftDrag();
    void enabling_data();
    void enabling();
    void drawingFollowsTheState_data();
    void drawingFollowsTheState();
    void maskColumnAfterBothBoxes();
    void closingEndsTheEdit();
    void destroyedWindowLeavesNoCursor();
    void boxRoundTrip_data();
    void boxRoundTrip();
    void noBoxesWithoutVideo();
    void processWaitsForTheEdit_data();
    void processWaitsForTheEdit();
    void editingKeepsTheFrame_data();
    void editingKeepsTheFrame();
    void failedSaveIsSaid();
    void tooFewPointsSaid_data();
    void tooFewPointsSaid();
    void unsavedBoxAsksFirst_data();
    void unsavedBoxAsksFirst();
    void tabLeavesTheTable();

private:
    QString addVideo(const QString &source, const QString &name);
    void createWindow();
    bool openVideo(const QString &path);
    QWidget *viewport() const { return child<GraphicsViewMouse>("gv_video")->viewport(); }
    void send(
        QEvent::Type type, const QPoint &pos, Qt::MouseButton button, Qt::MouseButtons buttons);
    void click(const QPoint &pos);
    void doubleClick(const QPoint &pos);
    void drag(const QPoint &from, const QPoint &to, Qt::MouseButtons buttons);
    void pushButton(const char *name);
    QStringList enabledEditButtons() const;
    template <typename T> T *child(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_videos;
    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<MainWindow> m_window;
};

void TestZoneEditing::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_settingsDir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    QVERIFY(m_videos.isValid());

    // Just past frame 90, where every video opens; MJPEG keeps the writing quick.
    const auto paint = [](int index, cv::Mat &frame) {
        frame.setTo(cv::Scalar(90, 110, 130));
        testvideo::paintIndex(frame, index);
    };
    const struct
    {
        const char *name;
        cv::Size size;
    } sizes[] = { { "320.avi", { 320, 240 } }, { "640.avi", { 640, 480 } },
        { "1920.avi", { 1920, 1080 } }, { "800.avi", { 800, 600 } },
        { "1024.avi", { 1024, 1024 } } };
    for (const auto &video : sizes)
        QVERIFY(testvideo::write(
            m_videos.filePath(QLatin1String(video.name)), "MJPG", 25, video.size, 100, paint));
}

void TestZoneEditing::init()
{
    QFile::remove(m_settingsDir.filePath(QStringLiteral("Tolvane/Kestrin.conf")));
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_work->isValid());
}

void TestZoneEditing::cleanup()
{
    m_window.reset();
    m_work.reset();
    // A failing case must not hand its cursor to the next one.
    while (QGuiApplication::overrideCursor())
        QGuiApplication::restoreOverrideCursor();
}

QString TestZoneEditing::addVideo(const QString &source, const QString &name)
{
    const QString path = m_work->filePath(name);
    return QFile::copy(m_videos.filePath(source), path) ? path : QString();
}

void TestZoneEditing::createWindow()
{
    m_window = windowdriver::showWindowOn(m_work->path());
    QVERIFY(m_window);
}

bool TestZoneEditing::openVideo(const QString &path)
{
    return windowdriver::selectVideo(*m_window, path);
}

void TestZoneEditing::send(
    QEvent::Type type, const QPoint &pos, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    // Built by hand: a move must carry the buttons held, which QTest cannot send.
    QMouseEvent event(type, pos, viewport()->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport(), &event);
}

void TestZoneEditing::click(const QPoint &pos)
{
    send(QEvent::MouseButtonPress, pos, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, pos, Qt::LeftButton, Qt::NoButton);
}

void TestZoneEditing::doubleClick(const QPoint &pos)
{
    // What the window system delivers: the second press arrives as the double click.
    click(pos);
    send(QEvent::MouseButtonDblClick, pos, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, pos, Qt::LeftButton, Qt::NoButton);
}

void TestZoneEditing::drag(const QPoint &from, const QPoint &to, Qt::MouseButtons buttons)
{
    const Qt::MouseButton first
        = buttons.testFlag(Qt::LeftButton) ? Qt::LeftButton : Qt::RightButton;
    send(QEvent::MouseButtonPress, from, first, buttons);
    send(QEvent::MouseMove, to, Qt::NoButton, buttons);
    send(QEvent::MouseButtonRelease, to, first, Qt::NoButton);
}

void TestZoneEditing::pushButton(const char *name)
{
    auto *button = child<QPushButton>(name);
    QVERIFY2(button && button->isEnabled(), name);
    QTest::mouseClick(button, Qt::LeftButton);
}

QStringList TestZoneEditing::enabledEditButtons() const
{
    QStringList enabled;
    for (const QString &name : editButtons) {
        if (m_window->findChild<QPushButton *>(name)->isEnabled())
            enabled << name;
    }
    return enabled;
}

void TestZoneEditing::mouseLabel_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<QString>("label");

    QTest::newRow("320 x 240, halved") << "320.avi" << QPoint(240, 90) << "mouse x: 120 y:45";
    QTest::newRow("640 x 480, as is") << "640.avi" << QPoint(120, 45) << "mouse x: 120 y:45";
    QTest::newRow("1920 x 1080, tripled") << "1920.avi" << QPoint(40, 15) << "mouse x: 120 y:45";
    QTest::newRow("origin") << "320.avi" << QPoint(0, 0) << "mouse x: 0 y:0";
}

void TestZoneEditing::mouseLabel()
{
    QFETCH(QString, source);
    QFETCH(QPoint, pos);
    QFETCH(QString, label);
    const QString video = addVideo(source, QStringLiteral("clip.mp4"));
    createWindow();
    auto *mouse = child<QLabel>("la_mouse");

    send(QEvent::MouseMove, pos, Qt::NoButton, Qt::NoButton);
    QCOMPARE(mouse->text(), QString());

    QVERIFY(openVideo(video));
    send(QEvent::MouseMove, pos, Qt::NoButton, Qt::NoButton);
    QCOMPARE(mouse->text(), label);

    // Closing the video (the working directory chosen again) empties the label, and later moves
    // leave it empty.
    pushButton("pb_videofile");
    QCOMPARE(mouse->text(), QString());
    send(QEvent::MouseMove, pos, Qt::NoButton, Qt::NoButton);
    QCOMPARE(mouse->text(), QString());
}

void TestZoneEditing::drawBox_data()
{
    QTest::addColumn<QByteArray>("box");
    QTest::addColumn<QVector<QPoint>>("clicks");
    QTest::addColumn<QPoint>("doubleClick");
    QTest::addColumn<QByteArray>("saved");

    // 320 x 240 is shown doubled: view positions are halved.
    const QVector<QPoint> three { { 40, 60 }, { 400, 60 }, { 400, 300 } };
    for (const char *box : { "area", "mask" }) {
        QTest::addRow("%s: three clicks and a double click close", box)
            << QByteArray(box) << three << QPoint(40, 300)
            << QByteArray("20,30\n200,30\n200,150\n20,150\n20,30\n");
        // Two points are a counting line, but no tracking box: that one is
        // not saved, and its file keeps the box it held.
        const bool line = QByteArray(box) == "area";
        QTest::addRow("%s: one click and a double click stay open", box)
            << QByteArray(box) << QVector<QPoint> { { 100, 120 } } << QPoint(300, 200)
            << QByteArray(line ? "50,60\n150,100\n" : "1,1\n2,2\n");
        QTest::addRow("%s: a lone double click is not saved", box)
            << QByteArray(box) << QVector<QPoint> {} << QPoint(7, 9) << QByteArray("1,1\n2,2\n");
        QTest::addRow("%s: one point twice is not saved", box)
            << QByteArray(box) << QVector<QPoint> { { 7, 9 } } << QPoint(7, 9)
            << QByteArray("1,1\n2,2\n");
    }
}

void TestZoneEditing::drawBox()
{
    QFETCH(QByteArray, box);
    QFETCH(QVector<QPoint>, clicks);
    QFETCH(QPoint, doubleClick);
    QFETCH(QByteArray, saved);
    const QString video = addVideo(QStringLiteral("320.avi"), QStringLiteral("clip.mp4"));
    const QString other = boxFile(video, box == "area" ? "_mask.krn" : "_area.krn");
    const QByteArray otherBefore("5,6\n7,8\n");
    QVERIFY(writeFile(boxFile(video, "_area.krn"), "1,1\n2,2\n"));
    QVERIFY(writeFile(boxFile(video, "_mask.krn"), "1,1\n2,2\n"));
    QVERIFY(writeFile(other, otherBefore));
    createWindow();
    QVERIFY(openVideo(video));

    pushButton(box == "area" ? "pb_cleararea" : "pb_clearmask");
    for (const QPoint &pos : clicks)
        click(pos);
    this->doubleClick(doubleClick);
    pushButton(box == "area" ? "pb_savearea" : "pb_savemask");

    const QString file = boxFile(video, box == "area" ? "_area.krn" : "_mask.krn");
    QCOMPARE(testfiles::read(file), saved);
    QCOMPARE(testfiles::read(other), otherBefore);
    // The double click drew, it did not zoom.
    QVERIFY(!m_window->playback->zoomed());
}

void TestZoneEditing::zoomToggle_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("zooms");
    QTest::addColumn<QPoint>("centre");

    QTest::newRow("320 x 240") << "320.avi" << false << QPoint();
    QTest::newRow("640 x 480") << "640.avi" << false << QPoint();
    QTest::newRow("1920 x 1080") << "1920.avi" << true << QPoint(600, 300);
}

void TestZoneEditing::zoomToggle()
{
    QFETCH(QString, source);
    QFETCH(bool, zooms);
    QFETCH(QPoint, centre);
    const QString video = addVideo(source, QStringLiteral("clip.mp4"));
    createWindow();
    QVERIFY(openVideo(video));

    doubleClick(QPoint(200, 100));
    QCOMPARE(m_window->playback->zoomed(), zooms);
    if (zooms) {
        const cv::Point at = m_window->playback->zoomCentre();
        QCOMPARE(QPoint(at.x, at.y), centre);
        // The next pictures are the 1:1 window, in a view sized for it.
        QTRY_COMPARE(child<GraphicsViewMouse>("gv_video")->height(), 482);
        // A second double click goes back to the whole frame.
        doubleClick(QPoint(10, 10));
        QVERIFY(!m_window->playback->zoomed());
        QTRY_COMPARE(child<GraphicsViewMouse>("gv_video")->height(), 362);
    }
    doubleClick(QPoint(200, 100));
    QCOMPARE(m_window->playback->zoomed(), zooms);
}

void TestZoneEditing::zoomedClick_data()
{
    QTest::addColumn<QPoint>("centre");
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<QPoint>("frame");

    QTest::newRow("near the top left") << QPoint(100, 100) << QPoint(10, 20) << QPoint(10, 20);
    QTest::newRow("inside") << QPoint(1000, 500) << QPoint(10, 20) << QPoint(690, 280);
    QTest::newRow("at the window's half") << QPoint(320, 240) << QPoint(0, 0) << QPoint(0, 0);
    QTest::newRow("near the bottom right")
        << QPoint(1900, 1070) << QPoint(639, 479) << QPoint(1919, 1079);
    QTest::newRow("at the far edge") << QPoint(1600, 840) << QPoint(5, 5) << QPoint(1285, 605);
}

void TestZoneEditing::zoomedClick()
{
    QFETCH(QPoint, centre);
    QFETCH(QPoint, pos);
    QFETCH(QPoint, frame);
    const QString video = addVideo(QStringLiteral("1920.avi"), QStringLiteral("clip.mp4"));
    createWindow();
    QVERIFY(openVideo(video));
    // Zoom in with a double click, then move the centre where the case wants it.
    doubleClick(QPoint(1, 1));
    QVERIFY(m_window->playback->zoomed());
    m_window->playback->setZoom(true, cv::Point(centre.x(), centre.y()));

    pushButton("pb_cleararea");
    click(pos);
    const cv::Point pressed = m_window->zoneEditor->lastPress();
    QCOMPARE(QPoint(pressed.x, pressed.y), frame);
    QCOMPARE(m_window->zoneEditor->zones().getArea(), Points { cv::Point(frame.x(), frame.y()) });
    send(QEvent::MouseMove, pos, Qt::NoButton, Qt::NoButton);
    QCOMPARE(child<QLabel>("la_mouse")->text(),
        QStringLiteral("mouse x: %1 y:%2").arg(frame.x()).arg(frame.y()));
}

void TestZoneEditing::shiftDrag_data()
{
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<QPoint>("offset");

    const int left = Qt::LeftButton;
    // View positions are twice the frame positions.
    QTest::newRow("left drag") << QPoint(200, 200) << QPoint(220, 210) << left << QPoint(10, 5);
    QTest::newRow("left drag up and left")
        << QPoint(200, 200) << QPoint(160, 180) << left << QPoint(-20, -10);
    QTest::newRow("right drag") << QPoint(200, 200) << QPoint(220, 210) << int(Qt::RightButton)
                                << QPoint(0, 0);
    QTest::newRow("left and right held") << QPoint(200, 200) << QPoint(220, 210)
                                         << int(Qt::LeftButton | Qt::RightButton) << QPoint(0, 0);
    QTest::newRow("ends left of the frame")
        << QPoint(200, 200) << QPoint(-200, 210) << left << QPoint(0, 0);
    QTest::newRow("ends right of the frame")
        << QPoint(200, 200) << QPoint(700, 210) << left << QPoint(0, 0);
    QTest::newRow("ends below the frame")
        << QPoint(200, 200) << QPoint(220, 500) << left << QPoint(0, 0);
    QTest::newRow("stops at the right edge")
        << QPoint(200, 200) << QPoint(300, 200) << left << QPoint(20, 0);
    QTest::newRow("stops at the top edge")
        << QPoint(200, 200) << QPoint(200, 40) << left << QPoint(0, -50);
    QTest::newRow("stops at the left edge")
        << QPoint(600, 200) << QPoint(0, 200) << left << QPoint(-50, 0);
    QTest::newRow("reaches both far edges exactly")
        << QPoint(200, 200) << QPoint(240, 280) << left << QPoint(20, 40);
}

void TestZoneEditing::shiftDrag()
{
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(int, buttons);
    QFETCH(QPoint, offset);
    const QString video = addVideo(QStringLiteral("320.avi"), QStringLiteral("clip.mp4"));
    const QString area = boxFile(video, "_area.krn");
    const QString mask = boxFile(video, "_mask.krn");
    QVERIFY(writeFile(area, krn(areaBox)));
    QVERIFY(writeFile(mask, krn(maskBox)));

    for (const char *end : { "pb_cancelbox", "pb_savebox" }) {
        createWindow();
        QVERIFY(openVideo(video));
        pushButton("pb_movebox");
        QCOMPARE(m_window->zoneEditor->state(), ZoneEditor::State::Shifting);
        drag(from, to, Qt::MouseButtons(buttons));

        const AreaContour &zones = m_window->zoneEditor->zones();
        if (offset.isNull()) {
            // Nothing moved: the boxes on screen are the unshifted ones.
            QCOMPARE(zones.getMode(), 0);
        } else {
            QCOMPARE(zones.getMode(), 3);
            QCOMPARE(zones.getAreaShifted(), moved(areaBox, offset));
            QCOMPARE(zones.getMaskShifted(), moved(maskBox, offset));
        }
        QCOMPARE(zones.getArea(), areaBox);
        QCOMPARE(zones.getMask(), maskBox);

        pushButton(end);
        QCOMPARE(m_window->zoneEditor->state(), ZoneEditor::State::Idle);
        QCOMPARE(zones.getMode(), 0);
        if (qstrcmp(end, "pb_cancelbox") == 0) {
            QCOMPARE(zones.getArea(), areaBox);
            QCOMPARE(zones.getMask(), maskBox);
            QCOMPARE(testfiles::read(area), krn(areaBox));
            QCOMPARE(testfiles::read(mask), krn(maskBox));
        } else {
            QCOMPARE(zones.getArea(), moved(areaBox, offset));
            QCOMPARE(zones.getMask(), moved(maskBox, offset));
            QCOMPARE(testfiles::read(area), krn(moved(areaBox, offset)));
            QCOMPARE(testfiles::read(mask), krn(moved(maskBox, offset)));
        }
        m_window.reset();
    }
}

void TestZoneEditing::enabling_data()
{
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<QStringList>("enabled");
    QTest::addColumn<ZoneEditor::State>("editState");
    QTest::addColumn<bool>("cross");

    const QStringList all = editButtons;
    QTest::newRow("counting box started")
        << QStringList { "pb_cleararea" } << QStringList { "pb_savearea", "pb_cancelarea" }
        << ZoneEditor::State::DrawingArea << true;
    // No point drawn: nothing is saved, the drawing goes on.
    QTest::newRow("empty counting box not saved")
        << QStringList { "pb_cleararea", "pb_savearea" }
        << QStringList { "pb_savearea", "pb_cancelarea" } << ZoneEditor::State::DrawingArea << true;
    QTest::newRow("counting box cancelled") << QStringList { "pb_cleararea", "pb_cancelarea" }
                                            << all << ZoneEditor::State::Idle << false;
    QTest::newRow("tracking box started")
        << QStringList { "pb_clearmask" } << QStringList { "pb_savemask", "pb_cancelmask" }
        << ZoneEditor::State::DrawingMask << true;
    QTest::newRow("empty tracking box not saved")
        << QStringList { "pb_clearmask", "pb_savemask" }
        << QStringList { "pb_savemask", "pb_cancelmask" } << ZoneEditor::State::DrawingMask << true;
    QTest::newRow("tracking box cancelled") << QStringList { "pb_clearmask", "pb_cancelmask" }
                                            << all << ZoneEditor::State::Idle << false;
    QTest::newRow("shift started")
        << QStringList { "pb_movebox" } << QStringList { "pb_savebox", "pb_cancelbox" }
        << ZoneEditor::State::Shifting << false;
    QTest::newRow("shift saved") << QStringList { "pb_movebox", "pb_savebox" } << all
                                 << ZoneEditor::State::Idle << false;
    QTest::newRow("shift cancelled")
        << QStringList { "pb_movebox", "pb_cancelbox" } << all << ZoneEditor::State::Idle << false;
    QTest::newRow("two boxes in turn")
        << QStringList { "pb_cleararea", "pb_cancelarea", "pb_clearmask", "pb_cancelmask",
               "pb_movebox", "pb_cancelbox", "pb_cleararea" }
        << QStringList { "pb_savearea", "pb_cancelarea" } << ZoneEditor::State::DrawingArea << true;
}

void TestZoneEditing::enabling()
{
    QFETCH(QStringList, clicks);
    QFETCH(QStringList, enabled);
    QFETCH(ZoneEditor::State, editState);
    QFETCH(bool, cross);
    const QString video = addVideo(QStringLiteral("320.avi"), QStringLiteral("clip.mp4"));
    QVERIFY(writeFile(boxFile(video, "_area.krn"), krn(areaBox)));
    QVERIFY(writeFile(boxFile(video, "_mask.krn"), krn(maskBox)));
    createWindow();
    QVERIFY(openVideo(video));
    QCOMPARE(enabledEditButtons(), editButtons);
    QCOMPARE(m_window->zoneEditor->state(), ZoneEditor::State::Idle);

    for (const QString &name : clicks)
        pushButton(name.toLatin1().constData());

    QCOMPARE(enabledEditButtons(), enabled);
    QCOMPARE(m_window->zoneEditor->state(), editState);
    const QCursor *cursor = QGuiApplication::overrideCursor();
    QCOMPARE(cursor != nullptr, cross);
    if (cursor)
        QCOMPARE(cursor->shape(), Qt::CrossCursor);
    // One override of ours at most: a single restore empties the stack.
    if (cross) {
        QGuiApplication::restoreOverrideCursor();
        QVERIFY(!QGuiApplication::overrideCursor());
    }
}

void TestZoneEditing::drawingFollowsTheState_data()
{
    // Steps: a button's name, "click x y", "drag x y x y" with the left
    // button, "escape"; points on the 320 x 240 view.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<ZoneEditor::State>("state");
    QTest::addColumn<int>("mode"); // the boxes drawn: 0 saved, 1 / 2 one redrawn, 3 shifted

    const QString drag = QStringLiteral("drag 200 200 220 220");
    QTest::newRow("shift started")
        << QStringList { "pb_movebox" } << ZoneEditor::State::Shifting << 0;
    QTest::newRow("shift dragged")
        << QStringList { "pb_movebox", drag } << ZoneEditor::State::Shifted << 3;
    QTest::newRow("shift dragged twice")
        << QStringList { "pb_movebox", drag, drag } << ZoneEditor::State::Shifted << 3;
    QTest::newRow("shift dragged, Escape")
        << QStringList { "pb_movebox", drag, "escape" } << ZoneEditor::State::Idle << 0;
    QTest::newRow("shift dragged, saved")
        << QStringList { "pb_movebox", drag, "pb_savebox" } << ZoneEditor::State::Idle << 0;
    QTest::newRow("shift dragged, folder closed")
        << QStringList { "pb_movebox", drag, "pb_videofile" } << ZoneEditor::State::None << 0;
    // A drag only shifts during a shift.
    QTest::newRow("drag while idle") << QStringList { drag } << ZoneEditor::State::Idle << 0;
    QTest::newRow("drag while drawing")
        << QStringList { "pb_cleararea", drag } << ZoneEditor::State::DrawingArea << 1;
    QTest::newRow("counting box closed") << QStringList { "pb_cleararea", "click 20 20",
        "click 200 20", "click 200 200", "double 20 200" }
                                         << ZoneEditor::State::DrawingArea << 1;
    QTest::newRow("tracking box, Escape")
        << QStringList { "pb_clearmask", "click 20 20", "escape" } << ZoneEditor::State::Idle << 0;
    QTest::newRow("tracking box, then shifted")
        << QStringList { "pb_clearmask", "pb_cancelmask", "pb_movebox", drag }
        << ZoneEditor::State::Shifted << 3;
}

void TestZoneEditing::drawingFollowsTheState()
{
    QFETCH(QStringList, steps);
    QFETCH(ZoneEditor::State, state);
    QFETCH(int, mode);
    const QString video = addVideo(QStringLiteral("320.avi"), QStringLiteral("clip.mp4"));
    QVERIFY(writeFile(boxFile(video, "_area.krn"), krn(areaBox)));
    QVERIFY(writeFile(boxFile(video, "_mask.krn"), krn(maskBox)));
    createWindow();
    QVERIFY(openVideo(video));

    for (const QString &step : steps) {
        const QStringList words = step.split(QLatin1Char(' '));
        QVector<int> at;
        for (int i = 1; i < words.size(); ++i)
            at << words.at(i).toInt();
        if (words.first() == QLatin1String("click"))
            click(QPoint(at[0], at[1]));
        else if (words.first() == QLatin1String("double"))
            doubleClick(QPoint(at[0], at[1]));
        else if (words.first() == QLatin1String("drag"))
            drag(QPoint(at[0], at[1]), QPoint(at[2], at[3]), Qt::LeftButton);
        else if (words.first() == QLatin1String("escape"))
            QTest::keyClick(m_window.get(), Qt::Key_Escape);
        else
            pushButton(step.toLatin1().constData());
    }
    QCOMPARE(m_window->zoneEditor->state(), state);
    QCOMPARE(m_window->zoneEditor->zones().getMode(), mode);
}

void TestZoneEditing::maskColumnAfterBothBoxes()
{
    const QString video = addVideo(QStringLiteral("320.avi"), QStringLiteral("clip.mp4"));
    createWindow();
    QVERIFY(openVideo(video));
    auto *files = child<QTableView>("tv_file");
    const auto maskCell = [files] { return files->model()->index(0, 1).data().toString(); };
    QCOMPARE(maskCell(), QStringLiteral("N"));
    // Without both box files there is nothing to shift.
    QCOMPARE(enabledEditButtons(), editButtons.mid(0, 6));

    pushButton("pb_cleararea");
    click(QPoint(20, 20));
    click(QPoint(300, 20));
    pushButton("pb_savearea");
    QCOMPARE(maskCell(), QStringLiteral("N"));
    QCOMPARE(enabledEditButtons(), editButtons.mid(0, 6));

    pushButton("pb_clearmask");
    for (const QPoint &pos : { QPoint(0, 0), QPoint(600, 0), QPoint(600, 400) })
        click(pos);
    doubleClick(QPoint(0, 400));
    pushButton("pb_savemask");
    QCOMPARE(maskCell(), QStringLiteral("Y"));
    QCOMPARE(enabledEditButtons(), editButtons);
    QVERIFY(child<QPushButton>("pb_algo")->isEnabled());
    // The window shows the boxes just saved, read back from their files.
    QCOMPARE(m_window->zoneEditor->zones().getArea(), (Points { { 10, 10 }, { 150, 10 } }));
    QCOMPARE(m_window->zoneEditor->zones().getMask(),
        (Points { { 0, 0 }, { 300, 0 }, { 300, 200 }, { 0, 200 }, { 0, 0 } }));
}

void TestZoneEditing::closingEndsTheEdit()
{
    const QString first = addVideo(QStringLiteral("320.avi"), QStringLiteral("first.mp4"));
    const QString second = addVideo(QStringLiteral("320.avi"), QStringLiteral("second.mp4"));
    for (const QString &video : { first, second }) {
        QVERIFY(writeFile(boxFile(video, "_area.krn"), krn(areaBox)));
        QVERIFY(writeFile(boxFile(video, "_mask.krn"), krn(maskBox)));
    }
    createWindow();

    // A box half drawn when another video is chosen: no cross-hair is left,
    // and both videos keep their files.
    QVERIFY(openVideo(first));
    pushButton("pb_cleararea");
    click(QPoint(10, 10));
    QVERIFY(QGuiApplication::overrideCursor());
    QVERIFY(openVideo(second));
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(m_window->zoneEditor->zones().getMode(), 0);
    QCOMPARE(m_window->zoneEditor->zones().getArea(), areaBox);

    // A shift dragged but not saved does not follow to the next video, where
    // its "Save" would write the first video's shift into the second's files.
    pushButton("pb_movebox");
    drag(QPoint(200, 200), QPoint(220, 220), Qt::LeftButton);
    QCOMPARE(m_window->zoneEditor->zones().getMode(), 3);
    QVERIFY(openVideo(first));
    QCOMPARE(m_window->zoneEditor->zones().getMode(), 0);
    pushButton("pb_savebox");
    for (const QString &video : { first, second }) {
        QCOMPARE(testfiles::read(boxFile(video, "_area.krn")), krn(areaBox));
        QCOMPARE(testfiles::read(boxFile(video, "_mask.krn")), krn(maskBox));
    }

    // Closing through the directory dialog in the middle of drawing.
    pushButton("pb_clearmask");
    QVERIFY(QGuiApplication::overrideCursor());
    pushButton("pb_videofile");
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(m_window->zoneEditor->state(), ZoneEditor::State::None);
}

void TestZoneEditing::destroyedWindowLeavesNoCursor()
{
    const QString video = addVideo(QStringLiteral("320.avi"), QStringLiteral("clip.mp4"));
    QVERIFY(writeFile(boxFile(video, "_area.krn"), krn(areaBox)));
    QVERIFY(writeFile(boxFile(video, "_mask.krn"), krn(maskBox)));
    // Someone else's override below ours must survive.
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    createWindow();
    QVERIFY(openVideo(video));
    pushButton("pb_clearmask");
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::CrossCursor);
    pushButton("pb_cancelmask");
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    // The shift's "Cancel" sets the arrow although its "Start" set nothing.
    pushButton("pb_movebox");
    pushButton("pb_cancelbox");
    QVERIFY(QGuiApplication::overrideCursor());
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);

    pushButton("pb_cleararea");
    m_window.reset();
    QVERIFY(QGuiApplication::overrideCursor());
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QGuiApplication::restoreOverrideCursor();
    QVERIFY(!QGuiApplication::overrideCursor());
}

void TestZoneEditing::boxRoundTrip_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QRect>("view");
    // Four corners clicked on the view, the last one double-clicked.
    QTest::addColumn<QVector<QPoint>>("corners");
    QTest::addColumn<QByteArray>("saved");

    QTest::newRow("1920 x 1080, from the table")
        << "1920.avi" << QRect(290, 120, 642, 362)
        << QVector<QPoint> { { 30, 30 }, { 300, 30 }, { 300, 300 }, { 30, 300 } }
        << QByteArray("90,90\n900,90\n900,900\n90,900\n90,90\n");
    QTest::newRow("800 x 600, scaled by 4/5")
        << "800.avi" << QRect(290, 60, 642, 482)
        << QVector<QPoint> { { 40, 40 }, { 400, 40 }, { 400, 320 }, { 40, 320 } }
        << QByteArray("50,50\n500,50\n500,400\n50,400\n50,50\n");
    QTest::newRow("1024 x 1024, square and centred")
        << "1024.avi" << QRect(370, 60, 482, 482)
        << QVector<QPoint> { { 30, 30 }, { 240, 30 }, { 240, 300 }, { 30, 300 } }
        << QByteArray("64,64\n512,64\n512,640\n64,640\n64,64\n");
}

void TestZoneEditing::boxRoundTrip()
{
    QFETCH(QString, source);
    QFETCH(QRect, view);
    QFETCH(QVector<QPoint>, corners);
    QFETCH(QByteArray, saved);
    const QString video = addVideo(source, QStringLiteral("clip.mp4"));
    createWindow();
    QVERIFY(openVideo(video));
    QCOMPARE(child<GraphicsViewMouse>("gv_video")->geometry(), view);

    pushButton("pb_cleararea");
    for (int i = 0; i < 3; ++i)
        click(corners.at(i));
    doubleClick(corners.at(3));
    pushButton("pb_savearea");
    QCOMPARE(testfiles::read(boxFile(video, "_area.krn")), saved);

    // The mouse label reads the frame pixel the box was stored at.
    send(QEvent::MouseMove, corners.at(2), Qt::NoButton, Qt::NoButton);
    const QList<QByteArray> third = saved.split('\n').at(2).split(',');
    QCOMPARE(child<QLabel>("la_mouse")->text(),
        QStringLiteral("mouse x: %1 y:%2")
            .arg(QString::fromLatin1(third.at(0)), QString::fromLatin1(third.at(1))));

    // Opened again, the box is drawn where it was clicked: green on the
    // middle of its top edge, within a pixel of the click's line.
    QVERIFY(
        QTest::qWaitFor([&] { return m_window->zoneEditor->state() == ZoneEditor::State::Idle; }));
    m_window->ModeVideo(MainWindow::ModeClosed);
    m_window->ModeVideo(MainWindow::ModeView);
    const QPoint middle((corners.at(0).x() + corners.at(1).x()) / 2, corners.at(0).y());
    const auto greenAt = [this, middle] {
        const auto *scene = child<GraphicsViewMouse>("gv_video")->scene();
        for (const QGraphicsItem *item : scene->items()) {
            const auto *pixmap = qgraphicsitem_cast<const QGraphicsPixmapItem *>(item);
            if (!pixmap)
                continue;
            const QImage image = pixmap->pixmap().toImage();
            for (int dy = -1; dy <= 1; ++dy) {
                const QColor c = image.pixelColor(middle + QPoint(0, dy));
                if (c.green() > 160 && c.green() > c.red() + 60 && c.green() > c.blue() + 60)
                    return true;
            }
        }
        return false;
    };
    QTRY_VERIFY(greenAt());
}

void TestZoneEditing::noBoxesWithoutVideo()
{
    const QString video = addVideo(QStringLiteral("320.avi"), QStringLiteral("clip.mp4"));
    const QString broken = m_work->filePath(QStringLiteral("broken.mp4"));
    QVERIFY(testfiles::write(broken, QByteArray(4096, 'x')));
    QVERIFY(writeFile(boxFile(video, "_area.krn"), krn(areaBox)));
    QVERIFY(writeFile(boxFile(video, "_mask.krn"), krn(maskBox)));
    createWindow();

    // After a working directory is chosen (here: the same one again),
    // and after a video that cannot be opened, no box can be touched.
    QVERIFY(openVideo(video));
    QCOMPARE(enabledEditButtons(), editButtons);
    pushButton("pb_videofile");
    QCOMPARE(enabledEditButtons(), QStringList());
    QVERIFY(openVideo(video));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Cannot show ")));
    QVERIFY(!openVideo(broken));
    QCOMPARE(enabledEditButtons(), QStringList());
    QVERIFY(!child<QPushButton>("pb_algo")->isEnabled());

    // Nor through the slots themselves: the boxes of the video closed last
    // are not rewritten, nor emptied.
    for (const char *slot : { "on_pb_movebox_clicked", "on_pb_savebox_clicked", "clearmask",
             "savemask", "cleararea", "savearea" })
        QVERIFY2(QMetaObject::invokeMethod(m_window.get(), slot), slot);
    QCOMPARE(testfiles::read(boxFile(video, "_area.krn")), krn(areaBox));
    QCOMPARE(testfiles::read(boxFile(video, "_mask.krn")), krn(maskBox));
    QVERIFY(!QFileInfo::exists(boxFile(broken, "_area.krn")));
    QVERIFY(!QFileInfo::exists(boxFile(broken, "_mask.krn")));
}

void TestZoneEditing::processWaitsForTheEdit_data()
{
    QTest::addColumn<QString>("saved"); // the box files written
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("why");

    QTest::newRow("counting box") << "area mask"
                                  << "pb_cleararea"
                                  << "pb_cancelarea" << QString();
    QTest::newRow("tracking box") << "area mask"
                                  << "pb_clearmask"
                                  << "pb_cancelmask" << QString();
    QTest::newRow("shift") << "area mask"
                           << "pb_movebox"
                           << "pb_savebox" << QString();
    QTest::newRow("no boxes") << ""
                              << "pb_cleararea"
                              << "pb_cancelarea"
                              << "no saved counting box and tracking box.";
    // Only the missing one is named.
    QTest::newRow("no tracking box") << "area"
                                     << "pb_cleararea"
                                     << "pb_cancelarea"
                                     << "no saved tracking box.";
    QTest::newRow("no counting box") << "mask"
                                     << "pb_cleararea"
                                     << "pb_cancelarea"
                                     << "no saved counting box.";
}

void TestZoneEditing::processWaitsForTheEdit()
{
    QFETCH(QString, saved);
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QString, why);
    const QString video = addVideo(QStringLiteral("320.avi"), QStringLiteral("clip.mp4"));
    if (saved.contains(QLatin1String("area")))
        QVERIFY(writeFile(boxFile(video, "_area.krn"), krn(areaBox)));
    if (saved.contains(QLatin1String("mask")))
        QVERIFY(writeFile(boxFile(video, "_mask.krn"), krn(maskBox)));
    const bool boxes = saved == QLatin1String("area mask");
    createWindow();
    auto *process = child<QPushButton>("pb_algo");
    auto *hint = child<QLabel>("la_process_hint");
    QVERIFY(!process->isEnabled());
    QVERIFY(process->toolTip().contains(QLatin1String("no video is open")));
    QVERIFY(openVideo(video));
    QCOMPARE(process->isEnabled(), boxes);

    pushButton(start.toLatin1().constData());
    QVERIFY(!process->isEnabled());
    QVERIFY2(
        process->toolTip().contains(QLatin1String("being edited")), qPrintable(process->toolTip()));
    // The status bar says how to draw instead.
    QVERIFY(hint->text().isEmpty());
    QVERIFY(m_window->statusBar()->currentMessage().contains(QLatin1String("Escape cancels")));
    // Pressed all the same (a shortcut, a stale click): nothing starts.
    QVERIFY(QMetaObject::invokeMethod(m_window.get(), "algo"));
    QCOMPARE(process->text(), QStringLiteral("Process"));

    pushButton(end.toLatin1().constData());
    QCOMPARE(process->isEnabled(), boxes);
    QCOMPARE(process->toolTip().isEmpty(), boxes);
    QVERIFY2(why.isEmpty() || process->toolTip().contains(why), qPrintable(process->toolTip()));
    QCOMPARE(hint->text(), process->toolTip());
}

void TestZoneEditing::editingKeepsTheFrame_data()
{
    QTest::addColumn<QStringList>("buttons");

    QTest::newRow("counting box saved") << QStringList { "pb_cleararea", "pb_savearea" };
    QTest::newRow("counting box cancelled") << QStringList { "pb_cleararea", "pb_cancelarea" };
    QTest::newRow("tracking box saved") << QStringList { "pb_clearmask", "pb_savemask" };
    QTest::newRow("shift saved") << QStringList { "pb_movebox", "pb_savebox" };
    QTest::newRow("shift cancelled") << QStringList { "pb_movebox", "pb_cancelbox" };
}

void TestZoneEditing::editingKeepsTheFrame()
{
    QFETCH(QStringList, buttons);
    const QString video = addVideo(QStringLiteral("320.avi"), QStringLiteral("clip.mp4"));
    QVERIFY(writeFile(boxFile(video, "_area.krn"), krn(areaBox)));
    QVERIFY(writeFile(boxFile(video, "_mask.krn"), krn(maskBox)));
    createWindow();
    QVERIFY(openVideo(video));
    pushButton("pb_slow_forward");
    QTRY_COMPARE(child<QLabel>("la_Num_Frame")->text(), QStringLiteral("91"));

    pushButton(buttons.at(0).toLatin1().constData());
    for (const QPoint &p : { QPoint(20, 20), QPoint(200, 20), QPoint(200, 200) })
        click(p);
    doubleClick(QPoint(20, 200));
    pushButton(buttons.at(1).toLatin1().constData());
    QCOMPARE(m_window->zoneEditor->state(), ZoneEditor::State::Idle);
    QCOMPARE(m_window->playback->position(), 91.0);
    // That frame is redrawn, then the window idles; the video is not opened
    // afresh at 90.
    QTRY_VERIFY(!m_window->playback->timer()->isActive());
    QCOMPARE(child<QLabel>("la_Num_Frame")->text(), QStringLiteral("91"));
    QCOMPARE(m_window->playback->position(), 91.0);
}

void TestZoneEditing::failedSaveIsSaid()
{
    const QString video = addVideo(QStringLiteral("320.avi"), QStringLiteral("clip.mp4"));
    // A file where the folder of the box files should be.
    QVERIFY(testfiles::write(m_work->filePath(QStringLiteral("exportCSV")), "in the way"));
    createWindow();
    QVERIFY(openVideo(video));
    pushButton("pb_cleararea");
    click(QPoint(20, 20));
    click(QPoint(200, 20));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("could not be saved")));
    pushButton("pb_savearea");
    const QString said = m_window->statusBar()->currentMessage();
    QVERIFY2(said.contains(QLatin1String("clip.mp4"))
            && said.contains(QLatin1String("could not be saved")),
        qPrintable(said));
    QCOMPARE(
        child<QTableView>("tv_file")->model()->index(0, 1).data().toString(), QStringLiteral("N"));
}

void TestZoneEditing::tooFewPointsSaid_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<QString>("said");

    QTest::newRow("counting box, no point")
        << "area" << 0 << "The counting box needs at least 2 different points; it was not saved.";
    QTest::newRow("tracking box, two points")
        << "mask" << 2 << "The tracking box needs at least 3 different points; it was not saved.";
}

void TestZoneEditing::tooFewPointsSaid()
{
    QFETCH(QString, box);
    QFETCH(int, clicks);
    QFETCH(QString, said);
    const QString video = addVideo(QStringLiteral("320.avi"), QStringLiteral("clip.mp4"));
    createWindow();
    QVERIFY(openVideo(video));
    pushButton(box == QLatin1String("area") ? "pb_cleararea" : "pb_clearmask");
    for (int i = 0; i < clicks; ++i)
        click(QPoint(20 + 100 * i, 20));
    pushButton(box == QLatin1String("area") ? "pb_savearea" : "pb_savemask");
    QCOMPARE(m_window->statusBar()->currentMessage(), said);
    // Still drawing: the missing points can be added.
    QVERIFY(m_window->zoneEditor->editing());
    QVERIFY(
        !QFile::exists(boxFile(video, box == QLatin1String("area") ? "_area.krn" : "_mask.krn")));
}

void TestZoneEditing::unsavedBoxAsksFirst_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("drop"); // the answer to the question
    QTest::addColumn<int>("questions");
    QTest::addColumn<ZoneEditor::State>("editState");
    QTest::addColumn<QString>("shown"); // the video open afterwards

    QTest::newRow("another video, kept")
        << "row" << false << 1 << ZoneEditor::State::DrawingArea << "first";
    QTest::newRow("another video, dropped")
        << "row" << true << 1 << ZoneEditor::State::Idle << "second";
    QTest::newRow("a folder, kept")
        << "folder" << false << 1 << ZoneEditor::State::DrawingArea << "first";
    QTest::newRow("a folder, dropped") << "folder" << true << 1 << ZoneEditor::State::None << "";
    QTest::newRow("folder dialog cancelled")
        << "cancel" << true << 0 << ZoneEditor::State::DrawingArea << "first";
    QTest::newRow("Escape") << "escape" << true << 0 << ZoneEditor::State::Idle << "first";
    // What deleting another video's files from the table's menu does.
    QTest::newRow("table relisted")
        << "refresh" << true << 0 << ZoneEditor::State::DrawingArea << "first";
    QTest::newRow("window closed, kept")
        << "close" << false << 1 << ZoneEditor::State::DrawingArea << "first";
    QTest::newRow("window closed, dropped")
        << "close" << true << 1 << ZoneEditor::State::Idle << "first";
}

void TestZoneEditing::unsavedBoxAsksFirst()
{
    QFETCH(QString, action);
    QFETCH(bool, drop);
    QFETCH(int, questions);
    QFETCH(ZoneEditor::State, editState);
    QFETCH(QString, shown);
    const QString first = addVideo(QStringLiteral("320.avi"), QStringLiteral("first.mp4"));
    addVideo(QStringLiteral("320.avi"), QStringLiteral("second.mp4"));
    QVERIFY(writeFile(boxFile(first, "_area.krn"), krn(areaBox)));
    windowdriver::CancelledDialogs *dialogs = nullptr;
    m_window = windowdriver::showWindowOn(m_work->path(), &dialogs);
    QVERIFY(m_window);
    dialogs->answer = drop;
    dialogs->sameDirectory = action != QLatin1String("cancel");
    QVERIFY(openVideo(first));
    pushButton("pb_cleararea");
    click(QPoint(20, 20));
    click(QPoint(200, 20));

    if (action == QLatin1String("row"))
        openVideo(m_work->filePath(QStringLiteral("second.mp4")));
    else if (action == QLatin1String("escape"))
        QTest::keyClick(child<QPushButton>("pb_savearea"), Qt::Key_Escape);
    else if (action == QLatin1String("refresh"))
        m_window->fileTable->refresh();
    else if (action == QLatin1String("close"))
        QCOMPARE(m_window->close(), drop);
    else
        pushButton("pb_videofile");

    QCOMPARE(dialogs->questions.size(), questions);
    QVERIFY(!questions || dialogs->questions.first().contains(QLatin1String("first.mp4")));
    QCOMPARE(m_window->zoneEditor->state(), editState);
    const QString path = shown.isEmpty() ? QString() : m_work->filePath(shown + ".mp4");
    QCOMPARE(child<QLabel>("la_file_selected")->text(), path);
    const int row = child<QTableView>("tv_file")->currentIndex().row();
    QVERIFY(path.isEmpty() || m_window->fileTable->filePath(row) == path);
    // The drawing goes on, or is gone unsaved.
    QCOMPARE(m_window->zoneEditor->zones().getArea().size() == 2,
        editState == ZoneEditor::State::DrawingArea);
    QCOMPARE(testfiles::read(boxFile(first, "_area.krn")), krn(areaBox));
}

void TestZoneEditing::tabLeavesTheTable()
{
    // The second row: the table must not fall back to its first one.
    for (const char *name : { "clip.mp4", "other.mp4" }) {
        const QString path = addVideo(QStringLiteral("320.avi"), QLatin1String(name));
        QVERIFY(writeFile(boxFile(path, "_area.krn"), krn(areaBox)));
        QVERIFY(writeFile(boxFile(path, "_mask.krn"), krn(maskBox)));
    }
    createWindow();
    const QString video = m_window->fileTable->filePath(1);
    QVERIFY(openVideo(video));
    QApplication::setActiveWindow(m_window.get());
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    auto *path = child<QLineEdit>("le_videofile");
    path->setFocus();
    // Sent when the field is left on a desktop: the folder is listed again.
    emit path->editingFinished();

    // Once round, in reading order, the table once, no other video opened.
    const QStringList order { "pb_videofile", "tv_file", "hs_frame", "pb_play_pause", "pb_algo",
        "pb_summary", "cb_savetracks", "pb_review", "pb_about", "pb_cleararea", "pb_cancelmask",
        "tv_result", "te_error", "le_videofile" };
    QStringList visited;
    while (visited.size() < 60 && !visited.contains(QStringLiteral("le_videofile"))) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        if (order.contains(QApplication::focusWidget()->objectName()))
            visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, order);
    QCOMPARE(child<QLabel>("la_file_selected")->text(), video);
}

QTEST_MAIN(TestZoneEditing)
#include "tst_zoneediting.moc"
