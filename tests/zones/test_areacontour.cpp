#include <algorithm>
#include <climits>
#include <random>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "imgproc/insectdetect.h"
#include "testfiles.h"
#include "zones/areacontour.h"
#include "zones/videofiles.h"
#include <sys/stat.h>

using Points = std::vector<cv::Point>;
Q_DECLARE_METATYPE(Points)
Q_DECLARE_METATYPE(cv::Point)

// Readable QCOMPARE failures; found by argument-dependent lookup.
namespace cv {
char *toString(const Point &p)
{
    return QTest::toString(QStringLiteral("(%1, %2)").arg(p.x).arg(p.y));
}

char *toString(const std::vector<Point> &points)
{
    QStringList texts;
    for (const Point &p : points)
        texts << QStringLiteral("(%1, %2)").arg(p.x).arg(p.y);
    return QTest::toString(QLatin1Char('[') + texts.join(QLatin1String(", ")) + QLatin1Char(']'));
}
} // namespace cv

namespace {

const cv::Size frameSize(320, 240);
const cv::Vec3b green(0, 255, 0);
const cv::Vec3b red(0, 0, 255);
const cv::Vec3b black(0, 0, 0);

Points closedRect(int left, int top, int right, int bottom)
{
    return { { left, top }, { right, top }, { right, bottom }, { left, bottom }, { left, top } };
}

void setArea(AreaContour &zones, const Points &points)
{
    zones.clearArea();
    for (const cv::Point &p : points)
        zones.addAreaPoint(p);
}

void setMask(AreaContour &zones, const Points &points)
{
    zones.clearMask();
    for (const cv::Point &p : points)
        zones.addMaskPoint(p);
}

// The shift clamp as a literal step-by-step loop, for comparison.
int clampLoop(int delta, const Points &points, bool horizontal, int limit)
{
    auto coord = [horizontal](const cv::Point &p) { return horizontal ? p.x : p.y; };
    auto violates = [&](int d) {
        for (const cv::Point &p : points) {
            const long long c = static_cast<long long>(coord(p)) - d;
            if (delta > 0 ? c < 0 : c > limit)
                return true;
        }
        return false;
    };
    if (delta > 0) {
        while (delta > 0 && violates(delta))
            --delta;
    } else if (delta < 0) {
        while (delta < 0 && violates(delta))
            ++delta;
    }
    return delta;
}

// Counting segments computed the slow way: full-frame edge images and a scan
// of every pixel, with the final inside stretch ending at the edge's last pixel.
Points referenceSegments(const Points &area, const Points &mask, cv::Size size, int fill)
{
    cv::Mat a(size, CV_8UC1, cv::Scalar(fill));
    if (area.size() >= 3)
        cv::polylines(a, area, false, cv::Scalar(255), 1, cv::LINE_8);
    if (mask.size() >= 3)
        cv::fillPoly(a, std::vector<Points> { mask }, cv::Scalar(0), cv::LINE_8);
    std::vector<Points> contours;
    std::vector<cv::Vec4i> hierarchy;
    cv::findContours(a, contours, hierarchy, cv::RETR_TREE, cv::CHAIN_APPROX_SIMPLE);
    cv::Mat b(size, CV_8UC1, cv::Scalar(fill));
    for (int i = 0; i < static_cast<int>(contours.size()); ++i)
        cv::drawContours(b, contours, i, cv::Scalar(255), 1, cv::LINE_8, hierarchy, 0);
    if (mask.size() >= 2)
        cv::polylines(b, mask, false, cv::Scalar(0), 1, cv::LINE_8);

    Points segments;
    for (std::size_t k = 0; k + 1 < area.size(); ++k) {
        cv::Mat e = cv::Mat::zeros(size, CV_8UC1);
        cv::line(e, area[k], area[k + 1], cv::Scalar(255), 1, cv::LINE_8);
        cv::Mat v;
        cv::bitwise_and(e, b, v);
        Points edge;
        Points outside;
        for (int row = 0; row < size.height; ++row) {
            for (int col = 0; col < size.width; ++col) {
                if (e.at<uchar>(row, col) == 255)
                    edge.emplace_back(col, row);
                if (v.at<uchar>(row, col) == 255)
                    outside.emplace_back(col, row);
            }
        }
        if (outside.empty()) {
            segments.push_back(area[k]);
            segments.push_back(area[k + 1]);
            continue;
        }
        // Runs of inside pixels, each closed by the outside pixel after it.
        std::size_t lastOutside = 0;
        for (std::size_t i = 0; i < edge.size(); ++i) {
            if (edge[i] == outside.back())
                lastOutside = i;
        }
        bool inRun = false;
        for (std::size_t i = 0; i < edge.size(); ++i) {
            const bool isOutside
                = std::find(outside.begin(), outside.end(), edge[i]) != outside.end();
            if (!isOutside && !inRun) {
                segments.push_back(edge[i]);
                inRun = true;
            } else if (isOutside && inRun) {
                segments.push_back(edge[i]);
                inRun = false;
            }
            if (i == lastOutside)
                break;
        }
        if (lastOutside + 1 < edge.size()) {
            segments.push_back(edge[lastOutside + 1]);
            segments.push_back(edge.back());
        }
    }
    return segments;
}

Points segmentsOf(const AreaContour &zones)
{
    Points segments { { 1, 1 } }; // replaced, not appended to
    zones.getAreaSegments(segments);
    return segments;
}

} // namespace

class TestAreaContour : public QObject
{
    Q_OBJECT

private slots:
    void constructedEmpty();
    void closePolygon_data();
    void closePolygon();
    void setModeCopiesTheBoxBeingEdited();
    void shiftClamps_data();
    void shiftClamps();
    void shiftMatchesStepwiseClamp();
    void shiftDoesNotAccumulate();
    void drawModes();
    void drawNoClosingLineAndShortLists();
    void saveWritesOneLinePerPoint();
    void loadMissingFileCreatesFolder();
    void loadLines_data();
    void loadLines();
    void loadWarnsOfLinesNotReadAsWritten();
    void boxFilesThatCannotBeUsed_data();
    void boxFilesThatCannotBeUsed();
    void saveInShiftModeTakesShiftedBox();
    void saveToUnwritableFolderKeepsLists();
    void readerSurvivesRandomInput();
    void createMaskPixels_data();
    void createMaskPixels();
    void createMaskWithoutTrackingBox();
    void segmentsExamples_data();
    void segmentsExamples();
    void segmentsMatchFullFrameScan();
    void extremeCoordinatesDoNotCrash();
    void farAboveFrameStillFills();
    void segmentsCountWithTheDetector();
};

void TestAreaContour::constructedEmpty()
{
    const AreaContour zones;
    QVERIFY(zones.getArea().empty());
    QVERIFY(zones.getMask().empty());
    QVERIFY(zones.getAreaShifted().empty());
    QVERIFY(zones.getMaskShifted().empty());
    QVERIFY(zones.getAreaSaved().empty());
    QVERIFY(zones.getMaskSaved().empty());
    QCOMPARE(zones.getMode(), 0);
    QVERIFY(segmentsOf(zones).empty());
}

void TestAreaContour::closePolygon_data()
{
    QTest::addColumn<int>("points");
    QTest::addColumn<int>("calls");
    QTest::addColumn<int>("expected");
    QTest::newRow("empty") << 0 << 1 << 0;
    QTest::newRow("two points") << 2 << 1 << 2;
    QTest::newRow("three points") << 3 << 1 << 4;
    QTest::newRow("three points, twice") << 3 << 2 << 5;
    QTest::newRow("five points") << 5 << 1 << 6;
}

void TestAreaContour::closePolygon()
{
    QFETCH(int, points);
    QFETCH(int, calls);
    QFETCH(int, expected);
    AreaContour zones;
    for (int i = 0; i < points; ++i) {
        zones.addAreaPoint(cv::Point(10 + i * 7, 20 + i * i));
        zones.addMaskPoint(cv::Point(30 - i, 40 + i * 3));
    }
    for (int i = 0; i < calls; ++i) {
        zones.closeArea();
        zones.closeMask();
    }
    QCOMPARE(static_cast<int>(zones.getArea().size()), expected);
    QCOMPARE(static_cast<int>(zones.getMask().size()), expected);
    if (expected > points) {
        QCOMPARE(zones.getArea().back(), zones.getArea().front());
        QCOMPARE(zones.getMask().back(), zones.getMask().front());
    }
}

void TestAreaContour::setModeCopiesTheBoxBeingEdited()
{
    AreaContour zones;
    const Points area { { 1, 2 }, { 3, 4 } };
    const Points mask { { 5, 6 }, { 7, 8 }, { 9, 10 } };
    setArea(zones, area);
    setMask(zones, mask);

    zones.setMode(1);
    QCOMPARE(zones.getMode(), 1);
    QCOMPARE(zones.getAreaSaved(), area);
    QVERIFY(zones.getMaskSaved().empty());
    zones.clearArea();
    QVERIFY(zones.getArea().empty());
    QCOMPARE(zones.getAreaSaved(), area);

    zones.setMode(2);
    QCOMPARE(zones.getMaskSaved(), mask);
    zones.clearMask();
    QVERIFY(zones.getMask().empty());
    QCOMPARE(zones.getMaskSaved(), mask);

    zones.setMode(0);
    zones.setMode(3);
    QCOMPARE(zones.getMode(), 3);
    QCOMPARE(zones.getAreaSaved(), area);
}

void TestAreaContour::shiftClamps_data()
{
    QTest::addColumn<Points>("area");
    QTest::addColumn<Points>("mask");
    QTest::addColumn<cv::Point>("delta");
    QTest::addColumn<cv::Point>("moved"); // the move applied to every point

    const Points box = closedRect(100, 80, 200, 160);
    const Points right { { 150, 100 }, { 300, 100 } }; // width - 20
    QTest::newRow("free move") << box << Points() << cv::Point(30, -20) << cv::Point(-30, 20);
    QTest::newRow("right edge") << right << Points() << cv::Point(-50, 0) << cv::Point(20, 0);
    QTest::newRow("left edge") << box << Points { { 5, 90 }, { 50, 90 } } << cv::Point(30, 0)
                               << cv::Point(-5, 0);
    QTest::newRow("top edge") << box << Points() << cv::Point(0, 100) << cv::Point(0, -80);
    QTest::newRow("bottom edge") << box << Points() << cv::Point(0, -200) << cv::Point(0, 80);
    QTest::newRow("corner") << box << Points() << cv::Point(-500, -500) << cv::Point(120, 80);
    QTest::newRow("edges are allowed")
        << Points { { 0, 0 }, { 320, 240 } } << Points() << cv::Point(0, 0) << cv::Point(0, 0);
    QTest::newRow("already outside, moving further")
        << Points { { -5, 10 }, { 30, 10 } } << Points() << cv::Point(10, 0) << cv::Point(0, 0);
    QTest::newRow("already outside, moving back")
        << Points { { -5, 10 }, { 30, 10 } } << Points() << cv::Point(-10, 0) << cv::Point(10, 0);
    QTest::newRow("mask limits the area")
        << Points { { 100, 100 }, { 120, 100 } } << Points { { 100, 230 }, { 150, 230 } }
        << cv::Point(0, -50) << cv::Point(0, 10);
    QTest::newRow("huge delta") << box << Points() << cv::Point(INT_MIN, INT_MAX)
                                << cv::Point(120, -80);
}

void TestAreaContour::shiftClamps()
{
    QFETCH(Points, area);
    QFETCH(Points, mask);
    QFETCH(cv::Point, delta);
    QFETCH(cv::Point, moved);
    AreaContour zones;
    setArea(zones, area);
    setMask(zones, mask);
    zones.shift(delta, frameSize.height, frameSize.width);

    QCOMPARE(zones.getArea(), area);
    QCOMPARE(zones.getMask(), mask);
    QCOMPARE(zones.getAreaShifted().size(), area.size());
    QCOMPARE(zones.getMaskShifted().size(), mask.size());
    for (std::size_t i = 0; i < area.size(); ++i)
        QCOMPARE(zones.getAreaShifted()[i], area[i] + moved);
    for (std::size_t i = 0; i < mask.size(); ++i)
        QCOMPARE(zones.getMaskShifted()[i], mask[i] + moved);
}

void TestAreaContour::shiftMatchesStepwiseClamp()
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> coord(-40, 360);
    std::uniform_int_distribution<int> step(-400, 400);
    std::uniform_int_distribution<int> count(0, 5);
    for (int round = 0; round < 500; ++round) {
        Points area;
        Points mask;
        for (int i = count(rng); i > 0; --i)
            area.emplace_back(coord(rng), coord(rng) * 2 / 3);
        for (int i = count(rng); i > 0; --i)
            mask.emplace_back(coord(rng), coord(rng) * 2 / 3);
        const cv::Point delta(step(rng), step(rng));
        AreaContour zones;
        setArea(zones, area);
        setMask(zones, mask);
        zones.shift(delta, frameSize.height, frameSize.width);

        Points all = area;
        all.insert(all.end(), mask.begin(), mask.end());
        const cv::Point clamped(clampLoop(delta.x, all, true, frameSize.width),
            clampLoop(delta.y, all, false, frameSize.height));
        for (std::size_t i = 0; i < area.size(); ++i)
            QCOMPARE(zones.getAreaShifted()[i], area[i] - clamped);
        for (std::size_t i = 0; i < mask.size(); ++i)
            QCOMPARE(zones.getMaskShifted()[i], mask[i] - clamped);
    }
}

void TestAreaContour::shiftDoesNotAccumulate()
{
    AreaContour zones;
    setArea(zones, closedRect(100, 100, 150, 150));
    setMask(zones, closedRect(50, 50, 250, 200));
    zones.shift(cv::Point(10, 10), frameSize.height, frameSize.width);
    zones.shift(cv::Point(10, 10), frameSize.height, frameSize.width);
    QCOMPARE(zones.getAreaShifted().front(), cv::Point(90, 90));
    QCOMPARE(zones.getMaskShifted().front(), cv::Point(40, 40));
    zones.shift(cv::Point(0, 0), frameSize.height, frameSize.width);
    QCOMPARE(zones.getAreaShifted(), zones.getArea());
}

void TestAreaContour::drawModes()
{
    AreaContour zones;
    setArea(zones, { { 20, 100 }, { 300, 100 } });
    setMask(zones, { { 20, 50 }, { 300, 50 } });
    auto drawn = [&zones]() {
        cv::Mat frame(frameSize, CV_8UC3, cv::Scalar::all(0));
        zones.draw(frame);
        return frame;
    };

    // Mode 0: both boxes, thickness 2.
    cv::Mat frame = drawn();
    QCOMPARE(frame.at<cv::Vec3b>(100, 160), green);
    QCOMPARE(frame.at<cv::Vec3b>(50, 160), red);
    QVERIFY(frame.at<cv::Vec3b>(99, 160) == green || frame.at<cv::Vec3b>(101, 160) == green);
    QCOMPARE(frame.at<cv::Vec3b>(75, 160), black);

    // Mode 1: the old counting box stays as a thin outline under the new one.
    zones.setMode(1);
    setArea(zones, { { 20, 150 }, { 300, 150 } });
    frame = drawn();
    QCOMPARE(frame.at<cv::Vec3b>(150, 160), green);
    QCOMPARE(frame.at<cv::Vec3b>(100, 160), green);
    QCOMPARE(frame.at<cv::Vec3b>(99, 160), black);
    QCOMPARE(frame.at<cv::Vec3b>(101, 160), black);
    QCOMPARE(frame.at<cv::Vec3b>(50, 160), red);

    // Mode 2: the old tracking box as a thin red outline.
    zones.setMode(2);
    setMask(zones, { { 20, 200 }, { 300, 200 } });
    frame = drawn();
    QCOMPARE(frame.at<cv::Vec3b>(200, 160), red);
    QCOMPARE(frame.at<cv::Vec3b>(50, 160), red);
    QCOMPARE(frame.at<cv::Vec3b>(49, 160), black);
    QCOMPARE(frame.at<cv::Vec3b>(51, 160), black);
    QCOMPARE(frame.at<cv::Vec3b>(100, 160), black); // no outline of the area in mode 2

    // Mode 3: only the shifted boxes.
    zones.shift(cv::Point(0, 30), frameSize.height, frameSize.width);
    zones.setMode(3);
    frame = drawn();
    QCOMPARE(frame.at<cv::Vec3b>(120, 160), green);
    QCOMPARE(frame.at<cv::Vec3b>(170, 160), red);
    QCOMPARE(frame.at<cv::Vec3b>(150, 160), black);
    QCOMPARE(frame.at<cv::Vec3b>(200, 160), black);

    // Leaving mode 3 without saving shows the unshifted boxes again.
    zones.setMode(0);
    frame = drawn();
    QCOMPARE(frame.at<cv::Vec3b>(150, 160), green);
    QCOMPARE(frame.at<cv::Vec3b>(200, 160), red);
    QCOMPARE(frame.at<cv::Vec3b>(120, 160), black);
}

void TestAreaContour::drawNoClosingLineAndShortLists()
{
    AreaContour zones;
    // An open triangle: the line back from the last to the first point is missing.
    setArea(zones, { { 50, 50 }, { 250, 50 }, { 150, 200 } });
    setMask(zones, { { 10, 10 } });
    cv::Mat frame(frameSize, CV_8UC3, cv::Scalar::all(0));
    zones.draw(frame);
    QCOMPARE(frame.at<cv::Vec3b>(50, 150), green);
    QCOMPARE(frame.at<cv::Vec3b>(125, 100), black); // midpoint of (150,200)-(50,50)
    QCOMPARE(frame.at<cv::Vec3b>(10, 10), black); // a single point draws nothing

    zones.clearArea();
    cv::Mat untouched(frameSize, CV_8UC3, cv::Scalar::all(0));
    zones.draw(untouched);
    QCOMPARE(cv::countNonZero(untouched.reshape(1)), 0);

    cv::Mat empty;
    zones.draw(empty); // nothing to draw on; must not throw
    QVERIFY(empty.empty());
}

void TestAreaContour::saveWritesOneLinePerPoint()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString video = dir.filePath(QStringLiteral("x.y.mp4"));
    AreaContour zones;
    setArea(zones, { { 10, 20 }, { 30, 40 } });
    setMask(zones, closedRect(-3, 0, 319, 239));
    zones.saveArea(video);
    zones.saveMask(video);

    QCOMPARE(testfiles::read(dir.filePath(QStringLiteral("exportCSV/x.y_area.krn"))),
        QByteArray("10,20\n30,40\n"));
    QCOMPARE(testfiles::read(dir.filePath(QStringLiteral("exportCSV/x.y_mask.krn"))),
        QByteArray("-3,0\n319,0\n319,239\n-3,239\n-3,0\n"));

    AreaContour loaded;
    loaded.setMode(2);
    loaded.loadArea(video);
    loaded.loadMask(video);
    QCOMPARE(loaded.getArea(), zones.getArea());
    QCOMPARE(loaded.getMask(), zones.getMask());
    QCOMPARE(loaded.getMode(), 2);

    // An empty list gives an empty file, which reads back empty.
    zones.clearArea();
    zones.saveArea(video);
    QCOMPARE(testfiles::read(dir.filePath(QStringLiteral("exportCSV/x.y_area.krn"))), QByteArray());
    loaded.loadArea(video);
    QVERIFY(loaded.getArea().empty());
}

void TestAreaContour::loadMissingFileCreatesFolder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString video = dir.filePath(QStringLiteral("clip.mp4"));
    AreaContour zones;
    setArea(zones, { { 1, 1 }, { 2, 2 } });
    setMask(zones, { { 3, 3 }, { 4, 4 } });
    zones.loadArea(video);
    QVERIFY(zones.getArea().empty());
    QVERIFY(QDir(dir.filePath(QStringLiteral("exportCSV"))).exists());
    zones.loadMask(video);
    QVERIFY(zones.getMask().empty());
}

void TestAreaContour::loadLines_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<Points>("expected");
    QTest::newRow("LF") << QByteArray("10,20\n30,40\n") << Points { { 10, 20 }, { 30, 40 } };
    QTest::newRow("CR LF") << QByteArray("10,20\r\n30,40\r\n") << Points { { 10, 20 }, { 30, 40 } };
    QTest::newRow("no final line end")
        << QByteArray("10,20\n30,40") << Points { { 10, 20 }, { 30, 40 } };
    QTest::newRow("empty file") << QByteArray() << Points();
    QTest::newRow("lines without separator skipped")
        << QByteArray("10,20\n\n1520\n\r\n30,40\n") << Points { { 10, 20 }, { 30, 40 } };
    QTest::newRow("third field ignored") << QByteArray("1,2,3\n") << Points { { 1, 2 } };
    QTest::newRow("empty fields") << QByteArray(",\n,5\n6,\n")
                                  << Points { { 0, 0 }, { 0, 5 }, { 6, 0 } };
    QTest::newRow("signs") << QByteArray("-5,+6\n") << Points { { -5, 6 } };
    QTest::newRow("spaces around") << QByteArray(" 7 , 8\n") << Points { { 7, 8 } };
    QTest::newRow("not numbers") << QByteArray("abc,4\n5,1.5\n0x10,9\nnan,inf\n")
                                 << Points { { 0, 4 }, { 5, 0 }, { 0, 9 }, { 0, 0 } };
    // Far outside any frame: clamped, so that no product of coordinates overflows.
    const int limit = AreaContour::kCoordinateLimit;
    QTest::newRow("beyond 32 and 64 bits")
        << QByteArray("2147483648,-2147483649\n-99999999999999999999, +99999999999999999999\n")
        << Points { { limit, -limit }, { -limit, limit } };
    QTest::newRow("just inside the limit") << QByteArray("1000000,-1000000\n1000001,-1000001\n")
                                           << Points { { limit, -limit }, { limit, -limit } };
    QTest::newRow("binary") << QByteArray("\x00\xff\xfe,\x01\n9,9\n", 10)
                            << Points { { 0, 0 }, { 9, 9 } };
}

void TestAreaContour::loadLines()
{
    QFETCH(QByteArray, contents);
    QFETCH(Points, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString video = dir.filePath(QStringLiteral("v.mp4"));
    QVERIFY(VideoFiles::ensureExportDir(video));
    QVERIFY(testfiles::write(VideoFiles::maskFile(video), contents));
    AreaContour zones;
    zones.loadMask(video);
    QCOMPARE(zones.getMask(), expected);
}

void TestAreaContour::loadWarnsOfLinesNotReadAsWritten()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString video = dir.filePath(QStringLiteral("v.mp4"));
    QVERIFY(VideoFiles::ensureExportDir(video));
    const QString file = VideoFiles::maskFile(video);
    QVERIFY(testfiles::write(file, "1,2\nnan,3\n\n4,99999999999\n5,6\n"));
    for (const int line : { 2, 3, 4 }) {
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression(
                QStringLiteral("^%1:%2: ").arg(QRegularExpression::escape(file)).arg(line)));
    }
    AreaContour zones;
    zones.loadMask(video);
    QCOMPARE(zones.getMask().size(), std::size_t(4));
}

void TestAreaContour::boxFilesThatCannotBeUsed_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("problem");
    QTest::addColumn<int>("loaded"); // points loadArea takes

    QTest::newRow("10000 points") << "10000" << QString() << 10000;
    QTest::newRow("10001 points") << "10001"
                                  << "it has more than 10000 points" << 0;
    QTest::newRow("a directory") << "directory"
                                 << "it is a directory" << 0;
    QTest::newRow("a pipe") << "fifo"
                            << "it is not a regular file" << 0;
    QTest::newRow("missing") << "missing"
                             << "it does not exist" << 0;
    QTest::newRow("a line of one point twice")
        << "same"
        << "its points are all the same: they make no counting line" << 0;
}

void TestAreaContour::boxFilesThatCannotBeUsed()
{
    QFETCH(QString, kind);
    QFETCH(QString, problem);
    QFETCH(int, loaded);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString video = dir.filePath(QStringLiteral("v.mp4"));
    QVERIFY(VideoFiles::ensureExportDir(video));
    const QString file = VideoFiles::areaFile(video);
    if (kind == QLatin1String("directory"))
        QVERIFY(QDir().mkdir(file));
    else if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    else if (kind == QLatin1String("same"))
        QVERIFY(testfiles::write(file, "7,9\n7,9\n"));
    else if (kind != QLatin1String("missing"))
        QVERIFY(testfiles::write(file, "8,9\n" + QByteArray("7,9\n").repeated(kind.toInt() - 1)));

    QCOMPARE(AreaContour::boxFileProblem(file), problem);
    AreaContour zones;
    zones.addAreaPoint(cv::Point(1, 1));
    zones.loadArea(video); // never waits on a pipe
    QCOMPARE(static_cast<int>(zones.getArea().size()), loaded);
}

void TestAreaContour::saveInShiftModeTakesShiftedBox()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString video = dir.filePath(QStringLiteral("v.mp4"));
    AreaContour zones;
    setArea(zones, { { 100, 100 }, { 200, 100 } });
    setMask(zones, closedRect(50, 50, 250, 200));
    zones.shift(cv::Point(-10, 5), frameSize.height, frameSize.width);
    zones.setMode(3);
    zones.saveMask(video);
    zones.saveArea(video);
    QCOMPARE(zones.getArea(), (Points { { 110, 95 }, { 210, 95 } }));
    QCOMPARE(testfiles::read(VideoFiles::areaFile(video)), QByteArray("110,95\n210,95\n"));
    QCOMPARE(testfiles::read(VideoFiles::maskFile(video)),
        QByteArray("60,45\n260,45\n260,195\n60,195\n60,45\n"));

    // Outside mode 3 the drawn box is written as it is.
    zones.setMode(0);
    setArea(zones, { { 1, 2 }, { 3, 4 } });
    zones.saveArea(video);
    QCOMPARE(testfiles::read(VideoFiles::areaFile(video)), QByteArray("1,2\n3,4\n"));
}

void TestAreaContour::saveToUnwritableFolderKeepsLists()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A plain file where the folder should be: nothing can be written.
    QVERIFY(testfiles::write(dir.filePath(QStringLiteral("exportCSV")), "not a folder"));
    const QString video = dir.filePath(QStringLiteral("v.mp4"));
    AreaContour zones;
    setArea(zones, { { 1, 2 }, { 3, 4 } });
    zones.saveArea(video);
    QCOMPARE(zones.getArea(), (Points { { 1, 2 }, { 3, 4 } }));
    zones.loadArea(video);
    QVERIFY(zones.getArea().empty());
}

void TestAreaContour::readerSurvivesRandomInput()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString video = dir.filePath(QStringLiteral("fuzz.mp4"));
    QVERIFY(VideoFiles::ensureExportDir(video));
    const QString file = VideoFiles::maskFile(video);

    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> small(-100000, 100000);
    const QByteArray alphabet("0123456789,,,-+ \r\n\t.eaZ");
    std::uniform_int_distribution<int> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> length(0, 40);
    std::uniform_int_distribution<int> kind(0, 3);

    for (int round = 0; round < 300; ++round) {
        QByteArray contents;
        Points valid; // lines that are exactly "x,y", in order, with their index
        std::vector<int> validAt;
        int linesWithSeparator = 0;
        const int lines = 1 + round % 12;
        for (int l = 0; l < lines; ++l) {
            QByteArray line;
            switch (kind(rng)) {
            case 0: { // a well-formed point
                const cv::Point p(small(rng), small(rng));
                line = QByteArray::number(p.x) + ',' + QByteArray::number(p.y);
                valid.push_back(p);
                validAt.push_back(linesWithSeparator);
                break;
            }
            case 1: // arbitrary bytes, no line end inside
                for (int i = length(rng); i > 0; --i) {
                    const char c = static_cast<char>(byte(rng));
                    line += (c == '\n' ? 'x' : c);
                }
                break;
            case 2: // characters a parser trips on
                for (int i = length(rng); i > 0; --i) {
                    const char c = alphabet.at(pick(rng));
                    line += (c == '\n' ? ',' : c);
                }
                break;
            default: { // a well-formed point with one byte changed
                line = QByteArray::number(small(rng)) + ',' + QByteArray::number(small(rng));
                line[pick(rng) % line.size()] = static_cast<char>(byte(rng));
                line.replace('\n', ' ');
                break;
            }
            }
            if (line.contains(','))
                ++linesWithSeparator;
            contents += line;
            if (l + 1 < lines || round % 2 == 0)
                contents += (round % 3 == 0 ? "\r\n" : "\n");
        }
        QVERIFY(testfiles::write(file, contents));
        AreaContour zones;
        zones.loadMask(video);
        // One point per line holding a separator, the well-formed ones exact.
        QCOMPARE(static_cast<int>(zones.getMask().size()), linesWithSeparator);
        for (std::size_t i = 0; i < valid.size(); ++i)
            QCOMPARE(zones.getMask()[static_cast<std::size_t>(validAt[i])], valid[i]);
    }

    // A megabyte on one line, then a normal line.
    QByteArray huge(1 << 20, '7');
    huge[500000] = ',';
    QVERIFY(testfiles::write(file, huge + "\n4,5\n"));
    AreaContour zones;
    zones.loadMask(video);
    const int limit = AreaContour::kCoordinateLimit;
    QCOMPARE(zones.getMask(), (Points { { limit, limit }, { 4, 5 } }));
}

void TestAreaContour::createMaskPixels_data()
{
    QTest::addColumn<int>("fill");
    QTest::addColumn<cv::Point>("pixel");
    QTest::addColumn<int>("expected");
    // Tracking box (40,30)-(280,210), counting box (120,90)-(200,150).
    const struct
    {
        const char *name;
        cv::Point pixel;
        int inside; // value with fill 0
    } cases[] = {
        { "inside the tracking box", { 60, 50 }, 255 },
        { "on the tracking box border", { 40, 100 }, 255 },
        { "outside both", { 10, 10 }, -1 },
        { "inside the counting box", { 160, 120 }, 0 },
        { "on the counting box border", { 120, 120 }, 255 },
        { "counting box corner", { 200, 150 }, 255 },
        { "just inside the counting box", { 121, 91 }, 0 },
    };
    for (const auto &c : cases) {
        QTest::newRow(c.name) << 0 << c.pixel << (c.inside < 0 ? 0 : c.inside);
        QTest::newRow(qPrintable(QStringLiteral("%1, fill 7").arg(QLatin1String(c.name))))
            << 7 << c.pixel << (c.inside < 0 ? 7 : c.inside);
    }
}

void TestAreaContour::createMaskPixels()
{
    QFETCH(int, fill);
    QFETCH(cv::Point, pixel);
    QFETCH(int, expected);
    AreaContour zones;
    setMask(zones, closedRect(40, 30, 280, 210));
    setArea(zones, closedRect(120, 90, 200, 150));
    const cv::Mat mask = zones.createMask(frameSize, fill);
    QCOMPARE(mask.size(), frameSize);
    QCOMPARE(mask.type(), CV_8UC1);
    QVERIFY(mask.isContinuous());
    QCOMPARE(static_cast<int>(mask.at<uchar>(pixel)), expected);
}

void TestAreaContour::createMaskWithoutTrackingBox()
{
    AreaContour zones;
    setMask(zones, { { 0, 0 }, { 300, 200 } }); // two points: no region
    setArea(zones, closedRect(120, 90, 200, 150));
    const cv::Mat mask = zones.createMask(frameSize, 0);
    // Only the counting box border: 4 sides of 81 and 61 pixels, corners shared.
    QCOMPARE(cv::countNonZero(mask), 2 * 81 + 2 * 61 - 4);
    QCOMPARE(static_cast<int>(mask.at<uchar>(90, 160)), 255);
    QCOMPARE(static_cast<int>(mask.at<uchar>(100, 160)), 0);

    // A counting line is not a polygon: nothing is drawn for it.
    setArea(zones, { { 10, 10 }, { 300, 10 } });
    QCOMPARE(cv::countNonZero(zones.createMask(frameSize, 0)), 0);
}

void TestAreaContour::segmentsExamples_data()
{
    QTest::addColumn<Points>("area");
    QTest::addColumn<Points>("mask");
    QTest::addColumn<Points>("expected");

    QTest::newRow("counting line")
        << Points { { 30, 120 }, { 290, 120 } } << closedRect(0, 0, 200, 239)
        << Points { { 30, 120 }, { 290, 120 } };
    QTest::newRow("counting line, no tracking box")
        << Points { { 290, 20 }, { 30, 200 } } << Points() << Points { { 290, 20 }, { 30, 200 } };
    QTest::newRow("rectangle, no tracking box")
        << closedRect(50, 50, 150, 150) << Points() << Points();
    QTest::newRow("rectangle, two-point tracking box")
        << closedRect(50, 50, 150, 150) << Points { { 0, 0 }, { 10, 200 } } << Points();
    // Only its line counts: the one pixel it crosses on the top and bottom edges.
    QTest::newRow("two-point tracking box across the box")
        << closedRect(50, 50, 150, 150) << Points { { 100, 0 }, { 100, 239 } }
        << Points { { 100, 50 }, { 101, 50 }, { 100, 150 }, { 101, 150 } };
    QTest::newRow("wholly inside") << closedRect(50, 50, 150, 150) << closedRect(10, 10, 300, 220)
                                   << Points { { 50, 50 }, { 150, 50 }, { 150, 50 }, { 150, 150 },
                                          { 150, 150 }, { 50, 150 }, { 50, 150 }, { 50, 50 } };
    QTest::newRow("open polygon wholly inside")
        << Points { { 60, 60 }, { 200, 80 }, { 120, 180 } } << closedRect(10, 10, 300, 220)
        << Points { { 60, 60 }, { 200, 80 }, { 200, 80 }, { 120, 180 } };
    // Tracking box over the left part (x <= 100): the inside stretch of the
    // top and bottom edges runs up to the first outside pixel at x = 101.
    QTest::newRow("left half inside")
        << closedRect(50, 50, 150, 150) << closedRect(0, 0, 100, 239)
        << Points { { 50, 50 }, { 101, 50 }, { 50, 150 }, { 101, 150 }, { 50, 150 }, { 50, 50 } };
    // Tracking box over the right part (x >= 100): the inside stretch comes
    // after the last outside pixel and ends at the edge's last pixel.
    QTest::newRow("final stretch inside")
        << closedRect(50, 50, 150, 150) << closedRect(100, 0, 319, 239)
        << Points { { 100, 50 }, { 150, 50 }, { 150, 50 }, { 150, 150 }, { 100, 150 },
               { 150, 150 } };
}

void TestAreaContour::segmentsExamples()
{
    QFETCH(Points, area);
    QFETCH(Points, mask);
    QFETCH(Points, expected);
    AreaContour zones;
    setArea(zones, area);
    setMask(zones, mask);
    zones.computeAreaSegments(frameSize, 0);
    QCOMPARE(segmentsOf(zones), expected);

    // Rebuilt, not appended to.
    zones.computeAreaSegments(frameSize, 0);
    QCOMPARE(segmentsOf(zones), expected);
}

void TestAreaContour::segmentsMatchFullFrameScan()
{
    const cv::Size size(160, 120);
    std::mt19937 rng(2024);
    std::uniform_int_distribution<int> x(-30, 190);
    std::uniform_int_distribution<int> y(-30, 150);
    std::uniform_int_distribution<int> corners(2, 6);
    int withPairs = 0;
    for (int round = 0; round < 150; ++round) {
        Points area;
        Points mask;
        for (int i = corners(rng); i > 0; --i)
            area.emplace_back(x(rng), y(rng));
        if (round % 2 == 0 && area.size() >= 3)
            area.push_back(area.front());
        for (int i = corners(rng) + 1; i > 0; --i)
            mask.emplace_back(x(rng), y(rng));
        mask.push_back(mask.front());

        AreaContour zones;
        setArea(zones, area);
        setMask(zones, mask);
        zones.computeAreaSegments(size, 0);
        const Points segments = segmentsOf(zones);
        QCOMPARE(segments, referenceSegments(area, mask, size, 0));
        QCOMPARE(segments.size() % 2, std::size_t(0));
        if (!segments.empty())
            ++withPairs;
    }
    QVERIFY(withPairs > 30); // the random cases are not all trivial
}

void TestAreaContour::extremeCoordinatesDoNotCrash()
{
    QElapsedTimer timer;
    timer.start();
    const Points wild { { INT_MAX, INT_MAX }, { INT_MIN, 5 }, { 100, INT_MIN }, { -1, -1 },
        { INT_MAX, INT_MAX } };
    AreaContour zones;
    setArea(zones, wild);
    setMask(zones, { { INT_MIN, INT_MIN }, { INT_MAX, 0 }, { 0, INT_MAX }, { INT_MIN, INT_MIN } });
    cv::Mat frame(frameSize, CV_8UC3, cv::Scalar::all(0));
    zones.draw(frame);
    const cv::Mat mask = zones.createMask(frameSize, 0);
    QCOMPARE(mask.size(), frameSize);
    zones.computeAreaSegments(frameSize, 0);
    QCOMPARE(segmentsOf(zones).size() % 2, std::size_t(0));
    zones.shift(cv::Point(INT_MAX, INT_MIN), frameSize.height, frameSize.width);
    QCOMPARE(zones.getAreaShifted(), zones.getArea()); // nothing fits: no move
    // A plain fill from y = INT_MIN takes tens of seconds.
    QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));

    // An empty frame size gives an empty mask and whole edges.
    setArea(zones, { { 10, 10 }, { 20, 20 } });
    QVERIFY(zones.createMask(cv::Size(0, 0), 0).empty());
    zones.computeAreaSegments(cv::Size(0, 0), 0);
    QCOMPARE(segmentsOf(zones), (Points { { 10, 10 }, { 20, 20 } }));
}

void TestAreaContour::farAboveFrameStillFills()
{
    // A tracking box whose apex lies far above the frame: what falls inside
    // the frame is what a plain fill of the whole triangle gives.
    const Points triangle { { -100, 230 }, { 420, 230 }, { 160, -3000000 }, { -100, 230 } };
    cv::Mat direct(frameSize, CV_8UC1, cv::Scalar(0));
    cv::fillPoly(direct, std::vector<Points> { triangle }, cv::Scalar(255), cv::LINE_8);
    cv::polylines(direct, triangle, false, cv::Scalar(255), 1, cv::LINE_8);

    AreaContour zones;
    setMask(zones, triangle);
    const cv::Mat mask = zones.createMask(frameSize, 0);
    QVERIFY(cv::countNonZero(direct) > 20000);
    cv::Mat differ;
    cv::compare(mask, direct, differ, cv::CMP_NE);
    // Cutting the polygon may move an edge by rounding, never more.
    QVERIFY2(cv::countNonZero(differ) <= frameSize.height,
        qPrintable(QString::number(cv::countNonZero(differ))));
}

void TestAreaContour::segmentsCountWithTheDetector()
{
    // A track stepping from `last` to `centroid`; age 1: it vanished there.
    auto track = [](cv::Point last, cv::Point centroid, int age, int agemovement) {
        Target t;
        t.lastKnown = true;
        t.last = last;
        t.centroid = centroid;
        t.age = age;
        t.agemovement = agemovement;
        return t;
    };
    const QDateTime start(QDate(2016, 5, 12), QTime(10, 0));
    std::vector<cv::Point> segments;
    InsectDetect detect;

    // A counting box of two points is a counting line.
    AreaContour zones;
    setArea(zones, { { 10, 100 }, { 200, 100 } });
    zones.computeAreaSegments(frameSize, 0);
    zones.getAreaSegments(segments);
    Target crossing = track({ 50, 90 }, { 52, 110 }, 0, 1);
    Target beside = track({ 250, 90 }, { 252, 110 }, 0, 1);
    QCOMPARE(detect.Detect({ &crossing }, segments, 5, 25, start).size(), 1);
    QCOMPARE(detect.Detect({ &beside }, segments, 7, 25, start).size(), 0);

    // A closed box wholly inside the tracking box: every edge is a segment.
    setMask(zones, closedRect(20, 20, 300, 220));
    setArea(zones, closedRect(100, 50, 200, 150));
    zones.computeAreaSegments(frameSize, 0);
    zones.getAreaSegments(segments);
    Target in = track({ 90, 100 }, { 95, 100 }, 1, 0);
    Target out = track({ 150, 155 }, { 150, 160 }, 0, 2);
    const QVector<Result> events = detect.Detect({ &in, &out }, segments, 77, 25, start);
    QCOMPARE(events.size(), 2);
    QCOMPARE(events[0].in, 1);
    QCOMPARE(events[1].out, 1);
}

QTEST_APPLESS_MAIN(TestAreaContour)
#include "test_areacontour.moc"
