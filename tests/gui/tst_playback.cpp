#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include "graphicsviewmouse.h"
#include "mainwindow.h"
#include "playbackfixture.h"

// Playback on the frame timer: the frame shown on opening, play, the steps, the
// slider and the jumps to counted frames, exact on every video format.
class TestPlayback : public PlaybackFixture
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(prepare()); }
    void init() { QVERIFY(startRow()); }
    void cleanup() { endRow(); }

    void playbackInterval_data();
    void playbackInterval();
    void openShowsFrame90_data();
    void openShowsFrame90();
    void exactOnEveryFormat_data();
    void exactOnEveryFormat();
    void stepLimits();
    void sliderNearTheEnd();
    void playStopsAtTheEnd();
    void resultRowJumpsAndPauses();
    void boxesDrawnOnEveryPicture();
    void closingStopsTheRedraw();
    void rowIgnoredWhileProcessing();
};

void TestPlayback::playbackInterval_data()
{
    QTest::addColumn<double>("fps");
    QTest::addColumn<int>("interval");

    QTest::newRow("25 fps") << 25.0 << 20;
    QTest::newRow("90 fps, as imported") << 90.0 << 5;
    QTest::newRow("29.97 fps cut towards zero") << 29.97 << 16;
    QTest::newRow("10 fps") << 10.0 << 50;
    QTest::newRow("no rate") << 0.0 << 20;
    QTest::newRow("negative rate") << -1.0 << 20;
    QTest::newRow("not a number") << std::nan("") << 20;
    QTest::newRow("infinite") << HUGE_VAL << 20;
    QTest::newRow("a tiny rate saturates") << 1e-300 << std::numeric_limits<int>::max();
}

void TestPlayback::playbackInterval()
{
    QFETCH(double, fps);
    QFETCH(int, interval);
    QCOMPARE(Playback::interval(fps), interval);
}

void TestPlayback::openShowsFrame90_data()
{
    QTest::addColumn<QString>("source");
    QTest::newRow("H.264") << QStringLiteral("h264.mp4");
    QTest::newRow("MPEG-4") << QStringLiteral("mp4v.mp4");
    QTest::newRow("MJPEG") << QStringLiteral("mjpeg.avi");
}

void TestPlayback::openShowsFrame90()
{
    QFETCH(QString, source);
    const QString video = addVideo(source, QStringLiteral("clip.mp4"));
    QVERIFY(createWindow(m_work->path()));
    QVERIFY(!frameTimer()->isActive());
    QVERIFY(openVideo(video));

    QCOMPARE(shownIndex(), 90);
    QCOMPARE(label("la_Num_Frame"), QStringLiteral("90"));
    QCOMPARE(label("la_width"), QStringLiteral("320"));
    QCOMPARE(label("la_height"), QStringLiteral("240"));
    QCOMPARE(label("la_fps"), QStringLiteral("25"));
    QCOMPARE(label("la_frame"), QString::number(frameCount));
    QCOMPARE(label("la_file_selected"), video);
    const auto *slider = child<QSlider>("hs_frame");
    QCOMPARE(slider->minimum(), 0);
    QCOMPARE(slider->maximum(), endFrame);
    QCOMPARE(slider->value(), 90);
    QCOMPARE(child<QPushButton>("pb_play_pause")->text(), QStringLiteral("Play"));
    QVERIFY(frameTimer()->isActive());
    QCOMPARE(frameTimer()->interval(), 20);
    // A 320 x 240 video is shown doubled, 640 x 480, in a view placed for it.
    QCOMPARE(child<GraphicsViewMouse>("gv_video")->geometry(), QRect(290, 60, 642, 482));

    // Paused and drawn, the window idles: no tick until something changes.
    QTRY_VERIFY(!frameTimer()->isActive());
    QCOMPARE(shownIndex(), 90);
    QCOMPARE(label("la_Num_Frame"), QStringLiteral("90"));
}

void TestPlayback::exactOnEveryFormat_data()
{
    openShowsFrame90_data();
}

void TestPlayback::exactOnEveryFormat()
{
    QFETCH(QString, source);
    const QString video = addVideo(source, QStringLiteral("clip.mp4"));
    // Counts may lie past the end of playback: processing reads to the last frame.
    const std::vector<double> counted { 12, 47, 63, 107 };
    QVERIFY(writeFile(countFilePath(video), countFile(counted)));
    QVERIFY(createWindow(m_work->path()));
    QVERIFY(openVideo(video));
    QCOMPARE(child<QTableView>("tv_result")->model()->rowCount(), 4);

    // Each action, and the frame then labelled and shown.
    struct Step
    {
        const char *action;
        int frame;
    };
    // A count of frame n was made in frame n + 1, which its row shows.
    const Step script[] = { { ">", 91 }, { ">>", 101 }, { "<<", 91 }, { "<", 90 }, { "s:37", 37 },
        { ">>", 47 }, { "r:2", 64 }, { "r:3", 108 }, { "<<", 98 }, { "r:0", 13 }, { "s:1", 1 },
        { "<", 0 }, { "s:103", 103 }, { ">", 104 }, { ">", 105 }, { ">", 105 } };
    for (const Step &step : script) {
        QVERIFY2(act(QString::fromLatin1(step.action)), step.action);
        const QString shownLabel = label("la_Num_Frame");
        const int shown = shownIndex();
        QVERIFY2(shownLabel == QString::number(step.frame),
            qPrintable(QStringLiteral("%1 labels %2").arg(step.action, shownLabel)));
        QVERIFY2(shown == step.frame,
            qPrintable(QStringLiteral("%1 shows frame %2").arg(step.action).arg(shown)));
        // The slider ends at the end of playback; counted frames may lie past it.
        QCOMPARE(child<QSlider>("hs_frame")->value(), std::min(step.frame, endFrame));
        QCOMPARE(child<QPushButton>("pb_play_pause")->text(), QStringLiteral("Play"));
    }
}

void TestPlayback::stepLimits()
{
    const QString video = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("clip.mp4"));
    QVERIFY(createWindow(m_work->path()));
    QVERIFY(openVideo(video));

    struct Case
    {
        const char *name;
        int start;
        const char *action;
        int expected;
    };
    // One window for all cases: each starts by seeking to its position.
    const Case cases[] = { { ">> at 100: 110 is not below 105", 100, ">>", 100 },
        { ">> at 94 reaches 104", 94, ">>", 104 },
        { ">> at 95 stays: 105 is not below 105", 95, ">>", 95 }, { "<< at 5", 5, "<<", 5 },
        { "<< at 10 reaches 0", 10, "<<", 0 }, { "< at 1 shows frame 0", 1, "<", 0 },
        { "< at 0", 0, "<", 0 }, { "> at 0", 0, ">", 1 } };
    auto *slider = child<QSlider>("hs_frame");
    for (const Case &c : cases) {
        // A slider already there reports no move; the position is there too.
        if (slider->value() != c.start)
            QVERIFY2(act(QStringLiteral("s:%1").arg(c.start)), c.name);
        QVERIFY2(shownIndex() == c.start, c.name);

        QVERIFY2(act(QString::fromLatin1(c.action)), c.name);
        QVERIFY2(label("la_Num_Frame") == QString::number(c.expected), c.name);
        QVERIFY2(shownIndex() == c.expected, c.name);
        QVERIFY2(slider->value() == c.expected, c.name);
    }
}

void TestPlayback::sliderNearTheEnd()
{
    const QString video = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("clip.mp4"));
    QVERIFY(createWindow(m_work->path()));
    QVERIFY(openVideo(video));

    struct Case
    {
        const char *name;
        int value;
        int shown;
    };
    const Case cases[] = { { "below the last seekable frame", endFrame - 2, endFrame - 2 },
        { "end - 1 changes only the label", endFrame - 1, 50 },
        { "end changes only the label", endFrame, 50 } };
    for (const Case &c : cases) {
        QVERIFY2(act(QStringLiteral("s:50")), c.name);
        QVERIFY2(shownIndex() == 50, c.name);
        QVERIFY2(act(QStringLiteral("s:%1").arg(c.value)), c.name);
        QVERIFY2(label("la_Num_Frame") == QString::number(c.value), c.name);
        QVERIFY2(child<QSlider>("hs_frame")->value() == c.value, c.name);
        QVERIFY2(shownIndex() == c.shown, c.name);
    }
}

void TestPlayback::playStopsAtTheEnd()
{
    const QString video = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("clip.mp4"));
    QVERIFY(createWindow(m_work->path()));
    QVERIFY(openVideo(video));

    // Every tick while playing shows the frame its label names.
    QList<QPair<int, int>> seen;
    connect(frameTimer(), &QTimer::timeout, this, [&] {
        seen.append({ label("la_Num_Frame").toInt(), shownIndex() });
    });
    auto *playPause = child<QPushButton>("pb_play_pause");
    QTest::mouseClick(playPause, Qt::LeftButton);
    QCOMPARE(playPause->text(), QStringLiteral("Pause"));
    QCOMPARE(frameTimer()->interval(), 20);
    QTRY_COMPARE_WITH_TIMEOUT(label("la_Num_Frame"), QString::number(endFrame), 10000);

    // At the end: the caption stays "Pause", the last picture stays, and
    // nothing is done until the next click.
    QTRY_VERIFY(!frameTimer()->isActive());
    QCOMPARE(playPause->text(), QStringLiteral("Pause"));
    QCOMPARE(label("la_Num_Frame"), QString::number(endFrame));
    QCOMPARE(shownIndex(), endFrame);
    QCOMPARE(child<QSlider>("hs_frame")->value(), endFrame);
    disconnect(frameTimer(), nullptr, this, nullptr);

    QVERIFY(seen.size() >= endFrame - 90);
    int previous = 90;
    for (const auto &tick : seen) {
        QCOMPARE(tick.second, tick.first);
        QVERIFY(tick.first == previous || tick.first == previous + 1);
        previous = tick.first;
    }
    QCOMPARE(previous, endFrame);

    QTest::mouseClick(playPause, Qt::LeftButton);
    QCOMPARE(playPause->text(), QStringLiteral("Play"));
}

void TestPlayback::resultRowJumpsAndPauses()
{
    const QString video = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("clip.mp4"));
    // Counts may lie past the end of playback; a hand-edited file may hold
    // frames that no video has.
    QVERIFY(writeFile(countFilePath(video), countFile({ 12, 47, 63, 80, 107, -3, 1e12 })));
    QVERIFY(createWindow(m_work->path()));
    QVERIFY(openVideo(video));
    QCOMPARE(child<QTableView>("tv_result")->model()->rowCount(), 7);
    auto *playPause = child<QPushButton>("pb_play_pause");

    // The third row, clicked while playing: the frame its insect was counted
    // in (the one after the frame the count file names), paused.
    QVERIFY(act(QStringLiteral("play")));
    QCOMPARE(playPause->text(), QStringLiteral("Pause"));
    QVERIFY(act(QStringLiteral("r:2")));
    QCOMPARE(playPause->text(), QStringLiteral("Play"));
    QVERIFY(waitTicks(2));
    QCOMPARE(label("la_Num_Frame"), QStringLiteral("64"));
    QCOMPARE(shownIndex(), 64);

    QVERIFY(act(QStringLiteral("r:4")));
    QCOMPARE(label("la_Num_Frame"), QStringLiteral("108"));
    QCOMPARE(shownIndex(), 108);

    // Frames that cannot be sought are refused: picture and label stay.
    for (int row : { 5, 6 }) {
        QVERIFY(act(QStringLiteral("r:%1").arg(row)));
        QCOMPARE(label("la_Num_Frame"), QStringLiteral("108"));
        QCOMPARE(shownIndex(), 108);
    }
    QVERIFY(act(QStringLiteral("r:0")));
    QCOMPARE(label("la_Num_Frame"), QStringLiteral("13"));
    QCOMPARE(shownIndex(), 13);
}

void TestPlayback::boxesDrawnOnEveryPicture()
{
    const QString boxed = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("boxed.mp4"));
    const QString plain = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("plain.mp4"));
    // A counting line at y 60 and an open tracking line at y 180, in frame pixels.
    QVERIFY(writeFile(exportFilePath(boxed, "_area.krn"), "40,60\n280,60\n"));
    QVERIFY(writeFile(exportFilePath(boxed, "_mask.krn"), "20,180\n300,180\n"));
    // (An open line is no tracking box to process with, but it is drawn.)
    QVERIFY(createWindow(m_work->path()));

    // Shown doubled: the lines lie at display y 120 and 360.
    const auto green = [this] {
        const QColor c = shownColour(QPoint(320, 121));
        return c.green() > 180 && c.red() < 100 && c.blue() < 100;
    };
    const auto red = [this] {
        const QColor c = shownColour(QPoint(320, 361));
        return c.red() > 180 && c.green() < 100 && c.blue() < 100;
    };
    QVERIFY(openVideo(boxed));
    QVERIFY(green());
    QVERIFY(red());
    QVERIFY(act(QStringLiteral(">")));
    QCOMPARE(shownIndex(), 91);
    QVERIFY(green());
    QVERIFY(red());
    QVERIFY(act(QStringLiteral("play")));
    QVERIFY(waitTicks(2));
    QVERIFY(shownIndex() > 91);
    QVERIFY(green());
    QVERIFY(red());

    // Another video brings its own boxes: none.
    QVERIFY(openVideo(plain));
    QCOMPARE(shownIndex(), 90);
    QVERIFY(!green());
    QVERIFY(!red());
}

void TestPlayback::closingStopsTheRedraw()
{
    const QString video = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("clip.mp4"));
    QVERIFY(createWindow(m_work->path()));
    QVERIFY(openVideo(video));
    QVERIFY(act(QStringLiteral("play")));
    QVERIFY(shownIndex() > 90);

    // A closed video shows nothing, and the window goes idle.
    QTest::mouseClick(child<QPushButton>("pb_videofile"), Qt::LeftButton);
    QVERIFY(shownIsEmpty());
    QTRY_VERIFY(!frameTimer()->isActive());
    QVERIFY(shownIsEmpty());
}

void TestPlayback::rowIgnoredWhileProcessing()
{
    const QString first = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("first.mp4"));
    const QString second = addVideo(QStringLiteral("mp4v.mp4"), QStringLiteral("second.mp4"));
    QVERIFY(createWindow(m_work->path()));
    QVERIFY(openVideo(first));

    for (const auto command : { Command::ProcessFrame, Command::NextFile }) {
        setCommand(command);
        QVERIFY(openVideo(second));
        QCOMPARE(label("la_file_selected"), first);
        QVERIFY(openVideo(first));
    }
    setCommand(Command::Pause);
    QVERIFY(openVideo(second));
    QCOMPARE(label("la_file_selected"), second);
}

QTEST_MAIN(TestPlayback)
#include "tst_playback.moc"
