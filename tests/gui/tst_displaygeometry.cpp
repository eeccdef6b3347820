#include <cstdlib>

#include <QTest>

#include "displaygeometry.h"

class TestDisplayGeometry : public QObject
{
    Q_OBJECT

private slots:
    void defaultPassesThrough();
    void fromFrameSize_data();
    void fromFrameSize();
    void toFrame_data();
    void toFrame();
};

void TestDisplayGeometry::defaultPassesThrough()
{
    const DisplayGeometry geometry;
    QCOMPARE(geometry.size(), cv::Size(640, 480));
    QCOMPARE(geometry.multiplier(), 0);
    QCOMPARE(geometry.divisor(), 0);
    QCOMPARE(geometry.toFrameX(637), 637);
    QCOMPARE(geometry.toFrameY(479), 479);
    QCOMPARE(geometry.viewLeft(), 290);
    QCOMPARE(geometry.viewTop(), 60);
}

void TestDisplayGeometry::fromFrameSize_data()
{
    QTest::addColumn<int>("frameWidth");
    QTest::addColumn<int>("frameHeight");
    QTest::addColumn<int>("displayWidth");
    QTest::addColumn<int>("displayHeight");
    QTest::addColumn<int>("multiplier");
    QTest::addColumn<int>("divisor");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("viewTop");
    QTest::addColumn<int>("viewLeft");

    // The table's sizes keep their exact geometry.
    QTest::newRow("1920x1080") << 1920 << 1080 << 640 << 360 << 3 << 0 << 1 << 120 << 290;
    QTest::newRow("1280x720") << 1280 << 720 << 640 << 360 << 2 << 0 << 1 << 120 << 290;
    QTest::newRow("640x480") << 640 << 480 << 640 << 480 << 0 << 0 << 1 << 60 << 290;
    QTest::newRow("320x240") << 320 << 240 << 640 << 480 << 0 << 2 << 1 << 60 << 290;
    // Any other is shown whole, aspect kept, centred where the table's are.
    QTest::newRow("800x600") << 800 << 600 << 640 << 480 << 0 << 0 << 0 << 60 << 290;
    QTest::newRow("1024x1024 square") << 1024 << 1024 << 480 << 480 << 0 << 0 << 0 << 60 << 370;
    QTest::newRow("1366x720 wide") << 1366 << 720 << 640 << 337 << 0 << 0 << 0 << 132 << 290;
    QTest::newRow("1440x1080") << 1440 << 1080 << 640 << 480 << 0 << 0 << 0 << 60 << 290;
    QTest::newRow("3840x2160") << 3840 << 2160 << 640 << 360 << 0 << 0 << 0 << 120 << 290;
    QTest::newRow("321x241 odd") << 321 << 241 << 639 << 480 << 0 << 0 << 0 << 60 << 291;
    QTest::newRow("portrait 1080x1920") << 1080 << 1920 << 270 << 480 << 0 << 0 << 0 << 60 << 475;
    QTest::newRow("1920x1088 not exact") << 1920 << 1088 << 640 << 363 << 0 << 0 << 0 << 119 << 290;
    QTest::newRow("0x0") << 0 << 0 << 640 << 480 << 0 << 0 << 0 << 60 << 290;
}

void TestDisplayGeometry::fromFrameSize()
{
    QFETCH(int, frameWidth);
    QFETCH(int, frameHeight);
    QFETCH(int, displayWidth);
    QFETCH(int, displayHeight);
    QFETCH(int, multiplier);
    QFETCH(int, divisor);
    QFETCH(int, result);
    QFETCH(int, viewTop);
    QFETCH(int, viewLeft);

    // Start from each kind of earlier video, so that no field of a previous
    // setting may survive.
    for (const cv::Size &earlier : { cv::Size(1920, 1080), cv::Size(320, 240), cv::Size(1, 1) }) {
        DisplayGeometry geometry;
        geometry.setFromFrameSize(earlier.width, earlier.height);
        QCOMPARE(geometry.setFromFrameSize(frameWidth, frameHeight), result);
        QCOMPARE(geometry.displayWidth(), displayWidth);
        QCOMPARE(geometry.displayHeight(), displayHeight);
        QCOMPARE(geometry.multiplier(), multiplier);
        QCOMPARE(geometry.divisor(), divisor);
        QVERIFY(geometry.multiplier() == 0 || geometry.divisor() == 0);
        QCOMPARE(geometry.size(), cv::Size(displayWidth, displayHeight));
        QCOMPARE(geometry.viewLeft(), viewLeft);
        QCOMPARE(geometry.viewTop(), viewTop);
        // Every picture is centred on the same point, within a pixel.
        QVERIFY(std::abs(2 * geometry.viewTop() + geometry.displayHeight() - 600) <= 1);
        QVERIFY(std::abs(2 * geometry.viewLeft() + geometry.displayWidth() - 1220) <= 1);
    }
}

void TestDisplayGeometry::toFrame_data()
{
    QTest::addColumn<int>("frameWidth");
    QTest::addColumn<int>("frameHeight");
    QTest::addColumn<int>("displayX");
    QTest::addColumn<int>("displayY");
    QTest::addColumn<int>("frameX");
    QTest::addColumn<int>("frameY");

    QTest::newRow("1280x720 centre") << 1280 << 720 << 320 << 180 << 640 << 360;
    QTest::newRow("1920x1080 last pixel") << 1920 << 1080 << 639 << 359 << 1917 << 1077;
    QTest::newRow("320x240 last pixel") << 320 << 240 << 639 << 479 << 319 << 239;
    QTest::newRow("320x240 truncates") << 320 << 240 << 1 << 3 << 0 << 1;
    QTest::newRow("640x480 unchanged") << 640 << 480 << 17 << 401 << 17 << 401;
    QTest::newRow("1920x1080 origin") << 1920 << 1080 << 0 << 0 << 0 << 0;
    // Scaled sizes map back to frame pixels, not display pixels.
    QTest::newRow("800x600 last pixel") << 800 << 600 << 639 << 479 << 798 << 598;
    QTest::newRow("800x600 centre") << 800 << 600 << 320 << 240 << 400 << 300;
    QTest::newRow("1024x1024 last pixel") << 1024 << 1024 << 479 << 479 << 1021 << 1021;
    QTest::newRow("3840x2160 last pixel") << 3840 << 2160 << 639 << 359 << 3834 << 2154;
    QTest::newRow("1366x720 centre") << 1366 << 720 << 320 << 168 << 683 << 358;
    QTest::newRow("160x120 enlarged") << 160 << 120 << 639 << 479 << 159 << 119;
}

void TestDisplayGeometry::toFrame()
{
    QFETCH(int, frameWidth);
    QFETCH(int, frameHeight);
    QFETCH(int, displayX);
    QFETCH(int, displayY);
    QFETCH(int, frameX);
    QFETCH(int, frameY);

    DisplayGeometry geometry;
    geometry.setFromFrameSize(frameWidth, frameHeight);
    QCOMPARE(geometry.toFrameX(displayX), frameX);
    QCOMPARE(geometry.toFrameY(displayY), frameY);

    // A copy maps the same way.
    const DisplayGeometry copy = geometry;
    QCOMPARE(copy.toFrameX(displayX), frameX);
    QCOMPARE(copy.toFrameY(displayY), frameY);
}

QTEST_APPLESS_MAIN(TestDisplayGeometry)
#include "tst_displaygeometry.moc"
