#include <QTest>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "cvprint.h"
#include "messagelog.h"
#include "mvtdetector.h"
#include "targetpool.h"

namespace {

const cv::Size kSize(320, 240);
constexpr int kBackground = 100;

cv::Mat plain(cv::Size size = kSize, int level = kBackground)
{
    return cv::Mat(size, CV_8UC1, cv::Scalar(level));
}

cv::Mat withDisk(const cv::Mat &frame, cv::Point centre, int radius, int level)
{
    cv::Mat out = frame.clone();
    cv::circle(out, centre, radius, cv::Scalar(level), cv::FILLED, cv::LINE_8);
    return out;
}

cv::Mat openMask(cv::Size size = kSize)
{
    return cv::Mat(size, CV_8UC1, cv::Scalar(255));
}

void releaseAll(TargetList &list)
{
    for (Target *t : list)
        TargetPool::instance().release(t);
    list.clear();
}

// The polygon approximation keeps every point of the outline within 3 pixels,
// so the box lies inside the outline's box, at most 3 pixels in on any side.
bool boxFitsOutline(const Target &t, const cv::Rect &outline)
{
    const cv::Rect box(t.origine, cv::Size(t.width, t.height));
    return (box & outline) == box && box.x - outline.x <= 3 && box.y - outline.y <= 3
        && outline.br().x - box.br().x <= 3 && outline.br().y - box.br().y <= 3;
}

bool same(const cv::Mat &a, const cv::Mat &b)
{
    return a.size() == b.size() && a.type() == b.type()
        && cv::countNonZero(a.reshape(1) != b.reshape(1)) == 0;
}

} // namespace

class TestMvtDetector : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstFrameOnlyBecomesReference();
    void identicalFramesGiveNothing();
    void threshold_data();
    void threshold();
    void smallChangesVanish_data();
    void smallChangesVanish();
    void squareGrowsAndIsDropped();
    void roundBlob();
    void blobOnFrameEdge();
    void maskBlanksDetection();
    void multiChannelMask();
    void emptyMaskUsesWholeFrame();
    void referenceMovesOnlyForEmptyList();
    void setMaskClearsReference();
    void poolExhaustion();
    void refusesFramesThatDoNotFit_data();
    void refusesFramesThatDoNotFit();

private:
    TargetList found;
};

void TestMvtDetector::init()
{
    TargetPool::instance().resize(1000);
    Target::reset_counter();
}

void TestMvtDetector::cleanup()
{
    releaseAll(found);
    QCOMPARE(TargetPool::instance().inUseCount(), 0);
}

void TestMvtDetector::firstFrameOnlyBecomesReference()
{
    MvtDetector detector;
    detector.set_mask(openMask());
    QVERIFY(detector.reference().empty());

    const cv::Mat first = withDisk(plain(), cv::Point(100, 100), 10, 200);
    detector.detectabsdiff(first, found);
    QVERIFY(found.empty());
    QVERIFY(same(detector.reference(), first));
    QVERIFY(detector.reference().data != first.data);

    // The next frame is compared with the first: the disk vanished.
    detector.detectabsdiff(plain(), found);
    QCOMPARE(found.size(), size_t(1));
}

void TestMvtDetector::identicalFramesGiveNothing()
{
    MvtDetector detector;
    detector.set_mask(openMask());
    const cv::Mat frame = withDisk(plain(), cv::Point(150, 120), 12, 30);
    for (int i = 0; i < 3; ++i) {
        detector.detectabsdiff(frame, found);
        QVERIFY(found.empty());
        QVERIFY(detector.contours().empty());
    }
}

void TestMvtDetector::threshold_data()
{
    QTest::addColumn<int>("change");
    QTest::addColumn<int>("targets");

    QTest::newRow("+6 ignored") << 6 << 0;
    QTest::newRow("+7 detected") << 7 << 1;
    QTest::newRow("-6 ignored") << -6 << 0;
    QTest::newRow("-7 detected") << -7 << 1;
    QTest::newRow("+1 ignored") << 1 << 0;
    QTest::newRow("+100 detected") << 100 << 1;
}

void TestMvtDetector::threshold()
{
    QFETCH(int, change);
    QFETCH(int, targets);
    MvtDetector detector;
    detector.set_mask(openMask());
    detector.detectabsdiff(plain(), found);
    detector.detectabsdiff(withDisk(plain(), cv::Point(160, 120), 10, kBackground + change), found);
    QCOMPARE(static_cast<int>(found.size()), targets);
}

void TestMvtDetector::smallChangesVanish_data()
{
    QTest::addColumn<cv::Rect>("changed");
    QTest::newRow("one pixel") << cv::Rect(50, 60, 1, 1);
    QTest::newRow("2x2") << cv::Rect(50, 60, 2, 2);
    QTest::newRow("thin line") << cv::Rect(20, 60, 200, 2);
    QTest::newRow("corner pixel") << cv::Rect(0, 0, 1, 1);
}

// Everything thinner than three pixels is gone after the first erosion.
void TestMvtDetector::smallChangesVanish()
{
    QFETCH(cv::Rect, changed);
    MvtDetector detector;
    detector.set_mask(openMask());
    detector.detectabsdiff(plain(), found);
    cv::Mat next = plain();
    next(changed).setTo(cv::Scalar(255));
    detector.detectabsdiff(next, found);
    QVERIFY(found.empty());
    QVERIFY(detector.contours().empty());
}

// Eroding leaves the centre pixel, dilating 20 times makes it 41 x 41 and
// eroding 5 times 31 x 31: four corners, fewer than five points, no target.
void TestMvtDetector::squareGrowsAndIsDropped()
{
    MvtDetector detector;
    detector.set_mask(openMask());
    detector.detectabsdiff(plain(), found);
    cv::Mat next = plain();
    next(cv::Rect(99, 79, 3, 3)).setTo(cv::Scalar(200));
    detector.detectabsdiff(next, found);

    QVERIFY(found.empty());
    QCOMPARE(detector.contours().size(), size_t(1));
    const std::vector<cv::Point> &square = detector.contours().front();
    QCOMPARE(square.size(), size_t(4));
    QCOMPARE(cv::boundingRect(square), cv::Rect(100 - 15, 80 - 15, 31, 31));
}

// The disk's tips are single pixels: the first erosion takes them and the
// next column or row, then the blob grows by 20 - 5. Being symmetric, its
// target is centred on the disk.
void TestMvtDetector::roundBlob()
{
    MvtDetector detector;
    detector.set_mask(openMask());
    detector.detectabsdiff(plain(), found);
    const cv::Point centre(160, 120);
    const int radius = 10;
    detector.detectabsdiff(withDisk(plain(), centre, radius, 20), found);

    QCOMPARE(detector.contours().size(), size_t(1));
    const int reach = radius - 2 + 20 - 5;
    const cv::Rect outline = cv::boundingRect(detector.contours().front());
    QCOMPARE(outline, cv::Rect(centre.x - reach, centre.y - reach, 2 * reach + 1, 2 * reach + 1));

    QCOMPARE(found.size(), size_t(1));
    const Target &t = *found.front();
    QVERIFY(boxFitsOutline(t, outline));
    QCOMPARE(t.width, t.height);
    QCOMPARE(t.centroid, centre);
    QCOMPARE(t.id, 0);
    QCOMPARE(t.last, cv::Point(0, 0));
    QCOMPARE(t.age, 0);
}

// At the frame's edge the border is replicated: the blob keeps its pixels in
// column 0 through the first erosion, and its outline stops at the edge.
void TestMvtDetector::blobOnFrameEdge()
{
    MvtDetector detector;
    detector.set_mask(openMask());
    detector.detectabsdiff(plain(), found);
    const int radius = 10;
    detector.detectabsdiff(withDisk(plain(), cv::Point(0, 120), radius, 20), found);

    QCOMPARE(detector.contours().size(), size_t(1));
    const int reach = radius - 2 + 20 - 5;
    const cv::Rect outline = cv::boundingRect(detector.contours().front());
    QCOMPARE(outline, cv::Rect(0, 120 - reach, reach + 1, 2 * reach + 1));

    QCOMPARE(found.size(), size_t(1));
    const Target &t = *found.front();
    QVERIFY(boxFitsOutline(t, outline));
    QCOMPARE(t.origine.x, 0);
    QCOMPARE(t.centroid.y, 120);
}

void TestMvtDetector::maskBlanksDetection()
{
    cv::Mat mask = openMask();
    mask(cv::Rect(0, 0, kSize.width / 2, kSize.height)).setTo(cv::Scalar(0));
    MvtDetector detector;
    detector.set_mask(mask);

    const cv::Mat textured = withDisk(plain(), cv::Point(60, 60), 30, 180);
    detector.detectabsdiff(textured, found);
    // The blanked half of the reference is 0, whatever the frame holds there.
    QCOMPARE(
        cv::countNonZero(detector.reference()(cv::Rect(0, 0, kSize.width / 2, kSize.height))), 0);

    // Changes in the blanked half are not seen...
    detector.detectabsdiff(withDisk(plain(), cv::Point(60, 120), 15, 250), found);
    QVERIFY(found.empty());
    QVERIFY(detector.contours().empty());
    // ...the same change in the open half is.
    detector.detectabsdiff(withDisk(plain(), cv::Point(240, 120), 15, 250), found);
    QCOMPARE(found.size(), size_t(1));
    QVERIFY(found.front()->centroid.x > kSize.width / 2);
}

void TestMvtDetector::multiChannelMask()
{
    cv::Mat mask(kSize, CV_8UC3, cv::Scalar(0, 0, 0));
    mask(cv::Rect(160, 0, 160, 240)).setTo(cv::Scalar(0, 0, 1));
    MvtDetector detector;
    detector.set_mask(mask);
    QVERIFY(detector.accepts(plain()));
    detector.detectabsdiff(plain(), found);
    detector.detectabsdiff(withDisk(plain(), cv::Point(60, 120), 15, 250), found);
    QVERIFY(found.empty());
    detector.detectabsdiff(withDisk(plain(), cv::Point(240, 120), 15, 250), found);
    QCOMPARE(found.size(), size_t(1));
}

void TestMvtDetector::emptyMaskUsesWholeFrame()
{
    MvtDetector detector;
    detector.set_mask(cv::Mat());
    const cv::Mat first = withDisk(plain(), cv::Point(30, 30), 20, 10);
    detector.detectabsdiff(first, found);
    QVERIFY(same(detector.reference(), first));
    detector.detectabsdiff(plain(), found);
    QCOMPARE(found.size(), size_t(1));
}

void TestMvtDetector::referenceMovesOnlyForEmptyList()
{
    MvtDetector detector;
    detector.set_mask(openMask());
    const cv::Mat a = plain();
    const cv::Mat b = withDisk(plain(), cv::Point(100, 100), 10, 200);
    const cv::Mat c = withDisk(plain(), cv::Point(200, 100), 10, 200);

    detector.detectabsdiff(a, found);
    detector.detectabsdiff(b, found);
    QCOMPARE(found.size(), size_t(1));
    QVERIFY(same(detector.reference(), b));

    // The list is not empty on entry: c is compared with b, b stays the
    // reference, and the new target is appended.
    detector.detectabsdiff(c, found);
    QCOMPARE(found.size(), size_t(3));
    QVERIFY(same(detector.reference(), b));

    releaseAll(found);
    detector.detectabsdiff(c, found);
    QCOMPARE(found.size(), size_t(2));
    QVERIFY(same(detector.reference(), c));
}

void TestMvtDetector::setMaskClearsReference()
{
    MvtDetector detector;
    detector.set_mask(openMask());
    detector.detectabsdiff(plain(), found);
    QVERIFY(!detector.reference().empty());
    detector.set_mask(openMask());
    QVERIFY(detector.reference().empty());
    detector.detectabsdiff(withDisk(plain(), cv::Point(100, 100), 10, 200), found);
    QVERIFY(found.empty());
}

// 999 records handed out, three qualifying blobs: one target, one warning.
void TestMvtDetector::poolExhaustion()
{
    TargetList held;
    for (int i = 0; i < 999; ++i)
        held.push_back(TargetPool::instance().take());
    QCOMPARE(TargetPool::instance().freeCount(), 1);

    MvtDetector detector;
    detector.set_mask(openMask());
    detector.detectabsdiff(plain(), found);
    cv::Mat next = plain();
    for (const cv::Point centre : { cv::Point(50, 50), cv::Point(250, 50), cv::Point(150, 190) })
        cv::circle(next, centre, 8, cv::Scalar(220), cv::FILLED);

    MessageLog log;
    detector.detectabsdiff(next, found);
    QCOMPARE(detector.contours().size(), size_t(3));
    QCOMPARE(found.size(), size_t(1));
    QCOMPARE(log.count(QtWarningMsg, QStringLiteral("No more target in the pool")), 1);
    QCOMPARE(log.count(QtWarningMsg), 1);
    QCOMPARE(TargetPool::instance().freeCount(), 0);
    releaseAll(held);
}

void TestMvtDetector::refusesFramesThatDoNotFit_data()
{
    QTest::addColumn<cv::Mat>("frame");
    QTest::newRow("empty") << cv::Mat();
    QTest::newRow("smaller") << plain(cv::Size(160, 120));
    QTest::newRow("transposed") << plain(cv::Size(kSize.height, kSize.width));
    QTest::newRow("colour") << cv::Mat(kSize, CV_8UC3, cv::Scalar::all(kBackground));
    QTest::newRow("16 bit") << cv::Mat(kSize, CV_16UC1, cv::Scalar(kBackground));
    QTest::newRow("float") << cv::Mat(kSize, CV_32FC1, cv::Scalar(kBackground));
}

void TestMvtDetector::refusesFramesThatDoNotFit()
{
    QFETCH(cv::Mat, frame);
    MvtDetector detector;
    detector.set_mask(openMask());
    const cv::Mat first = withDisk(plain(), cv::Point(100, 100), 10, 200);
    detector.detectabsdiff(first, found);

    QVERIFY(!detector.accepts(frame));
    MessageLog log;
    detector.detectabsdiff(frame, found);
    QVERIFY(found.empty());
    QVERIFY(same(detector.reference(), first));
    QCOMPARE(log.count(QtWarningMsg), 1);

    // The detector goes on with the next good frame.
    detector.detectabsdiff(plain(), found);
    QCOMPARE(found.size(), size_t(1));
}

QTEST_APPLESS_MAIN(TestMvtDetector)
#include "test_mvtdetector.moc"
