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

    QTest::newRow("1920x1080") << 1920 << 1080 << 640 << 360 << 3 << 0 << 1 << 120;
    QTest::newRow("1280x720") << 1280 << 720 << 640 << 360 << 2 << 0 << 1 << 120;
    QTest::newRow("640x480") << 640 << 480 << 640 << 480 << 0 << 0 << 1 << 60;
    QTest::newRow("320x240") << 320 << 240 << 640 << 480 << 0 << 2 << 1 << 60;
    QTest::newRow("800x600 fallback") << 800 << 600 << 640 << 480 << 0 << 0 << 0 << 60;
    QTest::newRow("portrait 1080x1920") << 1080 << 1920 << 640 << 480 << 0 << 0 << 0 << 60;
    QTest::newRow("1920x1088 not exact") << 1920 << 1088 << 640 << 480 << 0 << 0 << 0 << 60;
    QTest::newRow("0x0") << 0 << 0 << 640 << 480 << 0 << 0 << 0 << 60;
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
        QCOMPARE(geometry.viewLeft(), 290);
        QCOMPARE(geometry.viewTop(), viewTop);
        // Both display heights are centred on the same line.
        QCOMPARE(geometry.viewTop() + geometry.displayHeight() / 2, 300);
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
    QTest::newRow("800x600 display coordinates") << 800 << 600 << 639 << 479 << 639 << 479;
    QTest::newRow("1920x1080 origin") << 1920 << 1080 << 0 << 0 << 0 << 0;
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
