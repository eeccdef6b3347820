#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <QTest>

#include "cvprint.h"
#include "imgproc/mvtdetector.h"
#include "imgproc/targetpool.h"
#include "messagelog.h"

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

// The detector written the plain way, over the whole frame: the results of
// the detector under test must be the same, contour for contour.
class PlainDetector
{
public:
    explicit PlainDetector(const cv::Mat &mask)
        : mask(mask)
    {
    }

    // Returns the contours in findContours' order; empty for the first frame.
    std::vector<std::vector<cv::Point>> detect(const cv::Mat &grey, bool moveReference)
    {
        cv::Mat current;
        if (mask.empty()) {
            current = grey.clone();
        } else {
            current = cv::Mat::zeros(grey.size(), CV_8UC1);
            grey.copyTo(current, mask);
        }
        std::vector<std::vector<cv::Point>> contours;
        if (previous.empty()) {
            previous = current.clone();
            return contours;
        }
        cv::Mat diff;
        cv::absdiff(previous, current, diff);
        if (moveReference)
            previous = current.clone();
        cv::threshold(diff, diff, 6, 255, cv::THRESH_BINARY);
        const cv::Mat k = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3));
        cv::erode(diff, diff, k, cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
        cv::dilate(diff, diff, k, cv::Point(-1, -1), 20, cv::BORDER_REPLICATE);
        cv::erode(diff, diff, k, cv::Point(-1, -1), 5, cv::BORDER_REPLICATE);
        cv::findContours(diff, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
        return contours;
    }

    const cv::Mat &reference() const { return previous; }

private:
    cv::Mat mask;
    cv::Mat previous;
};

// Boxes as the detector derives them from the contours.
std::vector<cv::Rect> boxesOf(const std::vector<std::vector<cv::Point>> &contours)
{
    std::vector<cv::Rect> boxes;
    for (const std::vector<cv::Point> &c : contours) {
        if (c.size() < 5)
            continue;
        std::vector<cv::Point> polygon;
        cv::approxPolyDP(c, polygon, 3.0, true);
        boxes.push_back(cv::boundingRect(polygon));
    }
    return boxes;
}

// Random scenes: a textured background with sensor noise, and shapes that
// move, appear and vanish, many of them on the edges, touching each other,
// or inside rings.
class SceneMaker
{
public:
    SceneMaker(cv::Size size, uint64 seed)
        : size(size)
        , rng(seed)
    {
        background.create(size, CV_8UC1);
        rng.fill(background, cv::RNG::UNIFORM, 60, 200);
        cv::GaussianBlur(background, background, cv::Size(0, 0), 4.0);
    }

    cv::Mat next()
    {
        cv::Mat frame = background.clone();
        cv::Mat noise(size, CV_16SC1);
        rng.fill(noise, cv::RNG::NORMAL, 0, rng.uniform(0.0, 3.0));
        cv::Mat sum;
        cv::add(frame, noise, sum, cv::noArray(), CV_16S);
        sum.convertTo(frame, CV_8UC1);
        const int shapes = rng.uniform(0, 14);
        for (int i = 0; i < shapes; ++i)
            drawShape(frame);
        return frame;
    }

    cv::Mat randomMask()
    {
        cv::Mat m(size, CV_8UC1, cv::Scalar(0));
        switch (rng.uniform(0, 4)) {
        case 0:
            return cv::Mat();
        case 1: {
            std::vector<cv::Point> polygon;
            for (int i = 0; i < 5; ++i)
                polygon.push_back(anywhere(20));
            cv::fillPoly(m, std::vector<std::vector<cv::Point>> { polygon }, cv::Scalar(255));
            cv::rectangle(m, cv::Rect(anywhere(0), cv::Size(size.width / 4, size.height / 4)),
                cv::Scalar(0), cv::FILLED);
            return m;
        }
        case 2:
            // Speckled: a run of open pixels every few columns.
            rng.fill(m, cv::RNG::UNIFORM, 0, 3);
            return m;
        default:
            m.setTo(cv::Scalar(1));
            cv::circle(m, anywhere(0), size.width / 5, cv::Scalar(0), cv::FILLED);
            return m;
        }
    }

private:
    cv::Point anywhere(int outside)
    {
        return cv::Point(rng.uniform(-outside, size.width + outside),
            rng.uniform(-outside, size.height + outside));
    }

    void drawShape(cv::Mat &frame)
    {
        const cv::Scalar level(rng.uniform(0, 256));
        const cv::Point at = rng.uniform(0, 3) == 0 ? edgePoint() : anywhere(10);
        switch (rng.uniform(0, 6)) {
        case 0:
            cv::circle(frame, at, rng.uniform(1, 25), level, cv::FILLED);
            break;
        case 1:
            cv::rectangle(frame, cv::Rect(at, cv::Size(rng.uniform(1, 40), rng.uniform(1, 40))),
                level, cv::FILLED);
            break;
        case 2:
            // Rings big enough to keep a hole through the morphology, with
            // something inside now and then.
            cv::circle(frame, at, rng.uniform(40, 90), level, rng.uniform(3, 8));
            if (rng.uniform(0, 2) == 0)
                cv::circle(frame, at, rng.uniform(2, 8), level, cv::FILLED);
            break;
        case 3:
            cv::line(frame, at, anywhere(10), level, rng.uniform(1, 5));
            break;
        case 4:
            cv::ellipse(frame, at, cv::Size(rng.uniform(2, 30), rng.uniform(2, 12)),
                rng.uniform(0, 180), 0, 360, level, cv::FILLED);
            break;
        default:
            // A pair 40 to 46 pixels apart: merged by the dilation or not.
            cv::circle(frame, at, 4, level, cv::FILLED);
            cv::circle(frame, at + cv::Point(rng.uniform(40, 47), rng.uniform(-3, 4)), 4, level,
                cv::FILLED);
            break;
        }
    }

    cv::Point edgePoint()
    {
        const int d = rng.uniform(-3, 4);
        switch (rng.uniform(0, 4)) {
        case 0:
            return cv::Point(d, rng.uniform(0, size.height));
        case 1:
            return cv::Point(size.width - 1 + d, rng.uniform(0, size.height));
        case 2:
            return cv::Point(rng.uniform(0, size.width), d);
        default:
            return cv::Point(rng.uniform(0, size.width), size.height - 1 + d);
        }
    }

    cv::Size size;
    cv::RNG rng;
    cv::Mat background;
};
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
    void sameAsPlainDetector_data();
    void sameAsPlainDetector();

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

void TestMvtDetector::sameAsPlainDetector_data()
{
    QTest::addColumn<cv::Size>("size");
    QTest::addColumn<int>("seed");
    QTest::newRow("320x240") << cv::Size(320, 240) << 1;
    QTest::newRow("320x240 again") << cv::Size(320, 240) << 2;
    QTest::newRow("333x197, partial tiles") << cv::Size(333, 197) << 3;
    QTest::newRow("100x60, smaller than the reach") << cv::Size(100, 60) << 4;
    QTest::newRow("17x150, one tile wide") << cv::Size(17, 150) << 5;
    QTest::newRow("250x15, one tile high") << cv::Size(250, 15) << 6;
    QTest::newRow("401x301") << cv::Size(401, 301) << 7;
    // Rows of one 32-pixel step and a tail, and of exactly two steps.
    QTest::newRow("47x120") << cv::Size(47, 120) << 8;
    QTest::newRow("64x64") << cv::Size(64, 64) << 9;
}

// Many random frames, masks and reference moves: the contours, their order,
// the targets and the reference must match the plain whole-frame detector.
void TestMvtDetector::sameAsPlainDetector()
{
    QFETCH(cv::Size, size);
    QFETCH(int, seed);
    SceneMaker scenes(size, static_cast<uint64>(seed));
    cv::RNG rng(static_cast<uint64>(seed) * 7919u);
    int compared = 0;
    int withContours = 0;
    for (int run = 0; run < 5; ++run) {
        const cv::Mat mask = scenes.randomMask();
        MvtDetector detector;
        detector.set_mask(mask);
        PlainDetector plainDetector(mask);
        for (int frame = 0; frame < 20; ++frame) {
            const cv::Mat grey = scenes.next();
            // Now and then the list is not empty on entry, so the reference
            // stays where it is.
            const bool keepReference = rng.uniform(0, 5) == 0;
            Target *held = nullptr;
            if (keepReference) {
                held = TargetPool::instance().take();
                found.push_back(held);
            }
            const std::vector<std::vector<cv::Point>> expected
                = plainDetector.detect(grey, !keepReference);
            detector.detectabsdiff(grey, found);

            const QByteArray where
                = QStringLiteral("run %1 frame %2").arg(run).arg(frame).toLatin1();
            QVERIFY2(detector.contours() == expected, where.constData());
            QVERIFY2(same(detector.reference(), plainDetector.reference()), where.constData());
            const std::vector<cv::Rect> boxes = boxesOf(expected);
            QVERIFY2(found.size() == boxes.size() + (held ? 1 : 0), where.constData());
            for (size_t i = 0; i < boxes.size(); ++i) {
                const Target &t = *found[i + (held ? 1 : 0)];
                QVERIFY2(cv::Rect(t.origine, cv::Size(t.width, t.height)) == boxes[i],
                    where.constData());
            }
            releaseAll(found);
            ++compared;
            withContours += expected.empty() ? 0 : 1;
        }
    }
    QCOMPARE(compared, 5 * 20);
    // The scenes are not trivially empty.
    QVERIFY(withContours > compared / 2);
}

QTEST_APPLESS_MAIN(TestMvtDetector)
#include "test_mvtdetector.moc"
