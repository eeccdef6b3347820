#include <climits>
#include <vector>

#include <opencv2/core.hpp>

#include <QDateTime>
#include <QSignalSpy>
#include <QTest>

#include "cvprint.h"
#include "imgproc/insectdetect.h"
#include "imgproc/result.h"
#include "messagelog.h"

using Points = std::vector<cv::Point>;
Q_DECLARE_METATYPE(Points)

namespace {

const Points line { { 10, 100 }, { 200, 100 } };
// Stands for the `last` of a track that was never updated.
const cv::Point noLast(INT_MIN, INT_MIN);

Target track(cv::Point last, cv::Point centroid, int age, int agemovement = 1, int id = 1)
{
    Target t;
    t.id = id;
    t.lastKnown = last != noLast;
    t.last = t.lastKnown ? last : cv::Point(0, 0);
    t.centroid = centroid;
    t.origine = centroid - cv::Point(5, 5);
    t.width = 10;
    t.height = 10;
    t.age = age;
    t.agemovement = agemovement;
    return t;
}

QDateTime tenOClock()
{
    return QDateTime(QDate(2016, 5, 12), QTime(10, 0, 0));
}

} // namespace

class TestInsectDetect : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void orientation_data();
    void orientation();
    void orientationOfFarPointsDoesNotOverflow();
    void intersect_data();
    void intersect();

    void lineStep_data();
    void lineStep();
    void lineStepOntoAndOffTheLineCountsOnce();
    void lineCrossedBackAndForthCountsEachCrossing();
    void twoTracksInOneFrame();

    void boxProbe_data();
    void boxProbe();
    void boxDuplicateCheck_data();
    void boxDuplicateCheck();
    void resetClearsDuplicateCheck();
    void boxSegmentsTakenTwoByTwo_data();
    void boxSegmentsTakenTwoByTwo();

    void eventTime_data();
    void eventTime();
    void sinkTakesEveryEventAndKeepsTheFirstFailure();
    void traces();
    void signalIsNeverEmitted();

private:
    // Every event recorded by `detect` lands in `sunk`.
    void collect(InsectDetect &detect);
    // "frame;x;y;in;out;timestamp" per event, as the count file has them.
    static QString lines(const QVector<Result> &events);

    QVector<Result> sunk;
};

void TestInsectDetect::init()
{
    sunk.clear();
}

void TestInsectDetect::collect(InsectDetect &detect)
{
    detect.setEventSink([this](const Result &event) {
        sunk.append(event);
        return QString();
    });
}

QString TestInsectDetect::lines(const QVector<Result> &events)
{
    QString text;
    for (const Result &e : events) {
        text += QStringLiteral("%1;%2;%3;%4;%5;%6\n")
                    .arg(e.frame)
                    .arg(e.x)
                    .arg(e.y)
                    .arg(e.in)
                    .arg(e.out)
                    .arg(e.timestamp);
    }
    return text;
}

void TestInsectDetect::orientation_data()
{
    QTest::addColumn<cv::Point>("p");
    QTest::addColumn<cv::Point>("q");
    QTest::addColumn<cv::Point>("r");
    QTest::addColumn<int>("expected");

    // y grows downwards: a right turn on screen is a left turn in the formula.
    QTest::newRow("collinear") << cv::Point(0, 0) << cv::Point(2, 2) << cv::Point(5, 5) << 0;
    QTest::newRow("collinear, r behind p")
        << cv::Point(1, 1) << cv::Point(2, 2) << cv::Point(-3, -3) << 0;
    QTest::newRow("r above the diagonal")
        << cv::Point(0, 0) << cv::Point(4, 4) << cv::Point(5, 3) << 1;
    QTest::newRow("r below the diagonal")
        << cv::Point(0, 0) << cv::Point(4, 4) << cv::Point(3, 5) << 2;
    QTest::newRow("all equal") << cv::Point(7, 7) << cv::Point(7, 7) << cv::Point(7, 7) << 0;
    // Differences of 33 bits: their products need more than 64.
    QTest::newRow("corners of the 32-bit range")
        << cv::Point(INT_MIN, INT_MIN) << cv::Point(INT_MAX, INT_MAX) << cv::Point(INT_MIN, INT_MAX)
        << 2;
    QTest::newRow("corners of the 32-bit range, collinear")
        << cv::Point(INT_MIN, INT_MIN) << cv::Point(INT_MAX, INT_MAX) << cv::Point(0, 0) << 0;
}

void TestInsectDetect::orientation()
{
    QFETCH(cv::Point, p);
    QFETCH(cv::Point, q);
    QFETCH(cv::Point, r);
    QFETCH(int, expected);
    QCOMPARE(InsectDetect::Orientation(p, q, r), expected);
    // Swapping the last two points turns the other way round.
    const int swapped = expected == 0 ? 0 : 3 - expected;
    QCOMPARE(InsectDetect::Orientation(p, r, q), swapped);
}

void TestInsectDetect::orientationOfFarPointsDoesNotOverflow()
{
    // Box files may hold any 32-bit point; the products then exceed 32 bits.
    const cv::Point p(-2000000000, -2000000000);
    const cv::Point q(2000000000, 2000000000);
    QCOMPARE(InsectDetect::Orientation(p, q, cv::Point(0, 0)), 0);
    QCOMPARE(InsectDetect::Orientation(p, q, cv::Point(0, 1)), 2);
    QCOMPARE(InsectDetect::Orientation(p, q, cv::Point(1, 0)), 1);
    QVERIFY(InsectDetect::Intersect(p, q, cv::Point(-5, 5), cv::Point(5, -5)));
    QVERIFY(!InsectDetect::Intersect(p, q, cv::Point(INT_MAX, 0), cv::Point(INT_MAX, 1)));
}

void TestInsectDetect::intersect_data()
{
    QTest::addColumn<cv::Point>("p1");
    QTest::addColumn<cv::Point>("q1");
    QTest::addColumn<cv::Point>("p2");
    QTest::addColumn<cv::Point>("q2");
    QTest::addColumn<bool>("expected");

    QTest::newRow("cross") << cv::Point(0, 0) << cv::Point(10, 10) << cv::Point(0, 10)
                           << cv::Point(10, 0) << true;
    QTest::newRow("end on the other's inside")
        << cv::Point(5, 0) << cv::Point(5, 5) << cv::Point(0, 5) << cv::Point(10, 5) << true;
    QTest::newRow("ends touching")
        << cv::Point(0, 0) << cv::Point(5, 5) << cv::Point(5, 5) << cv::Point(9, 1) << true;
    QTest::newRow("collinear overlap")
        << cv::Point(0, 0) << cv::Point(6, 0) << cv::Point(4, 0) << cv::Point(9, 0) << true;
    QTest::newRow("collinear, apart")
        << cv::Point(0, 0) << cv::Point(3, 0) << cv::Point(4, 0) << cv::Point(9, 0) << false;
    QTest::newRow("parallel") << cv::Point(0, 0) << cv::Point(9, 0) << cv::Point(0, 1)
                              << cv::Point(9, 1) << false;
    QTest::newRow("stops one short")
        << cv::Point(5, 0) << cv::Point(5, 4) << cv::Point(0, 5) << cv::Point(10, 5) << false;
    QTest::newRow("passes beyond the end")
        << cv::Point(11, 0) << cv::Point(11, 10) << cv::Point(0, 5) << cv::Point(10, 5) << false;
    QTest::newRow("zero-length step on the line")
        << cv::Point(5, 5) << cv::Point(5, 5) << cv::Point(0, 5) << cv::Point(10, 5) << true;
    QTest::newRow("zero-length step off the line")
        << cv::Point(5, 6) << cv::Point(5, 6) << cv::Point(0, 5) << cv::Point(10, 5) << false;
}

void TestInsectDetect::intersect()
{
    QFETCH(cv::Point, p1);
    QFETCH(cv::Point, q1);
    QFETCH(cv::Point, p2);
    QFETCH(cv::Point, q2);
    QFETCH(bool, expected);
    // Meeting is symmetric in the segments and in their directions.
    QCOMPARE(InsectDetect::Intersect(p1, q1, p2, q2), expected);
    QCOMPARE(InsectDetect::Intersect(q1, p1, p2, q2), expected);
    QCOMPARE(InsectDetect::Intersect(p2, q2, p1, q1), expected);
    QCOMPARE(InsectDetect::Intersect(p1, q1, q2, p2), expected);
}

void TestInsectDetect::lineStep_data()
{
    QTest::addColumn<Points>("segments");
    QTest::addColumn<cv::Point>("last");
    QTest::addColumn<cv::Point>("centroid");
    QTest::addColumn<int>("age");
    QTest::addColumn<bool>("counted");

    QTest::newRow("crossing") << line << cv::Point(50, 90) << cv::Point(52, 110) << 0 << true;
    QTest::newRow("crossing upwards")
        << line << cv::Point(52, 110) << cv::Point(50, 90) << 0 << true;
    QTest::newRow("not matched this step")
        << line << cv::Point(50, 90) << cv::Point(52, 110) << 1 << false;
    QTest::newRow("created this step") << line << noLast << cv::Point(52, 110) << 0 << false;
    QTest::newRow("from column 0") << line << cv::Point(0, 90) << cv::Point(52, 110) << 0 << true;
    QTest::newRow("ends on the line")
        << line << cv::Point(50, 90) << cv::Point(51, 100) << 0 << true;
    QTest::newRow("ends on an end point")
        << line << cv::Point(5, 95) << cv::Point(10, 100) << 0 << true;
    QTest::newRow("starts on the line")
        << line << cv::Point(51, 100) << cv::Point(52, 110) << 0 << false;
    QTest::newRow("starts on an end point")
        << line << cv::Point(200, 100) << cv::Point(205, 110) << 0 << false;
    QTest::newRow("along the line onto it")
        << line << cv::Point(230, 100) << cv::Point(190, 100) << 0 << true;
    QTest::newRow("stays on one side")
        << line << cv::Point(50, 90) << cv::Point(60, 99) << 0 << false;
    QTest::newRow("passes beyond the end")
        << line << cv::Point(205, 90) << cv::Point(205, 110) << 0 << false;
    QTest::newRow("line from column 0") << Points { { 0, 100 }, { 200, 100 } } << cv::Point(50, 90)
                                        << cv::Point(52, 110) << 0 << true;
    QTest::newRow("line from row 0 to the bottom")
        << Points { { 160, 0 }, { 160, 240 } } << cv::Point(150, 5) << cv::Point(170, 6) << 0
        << true;
    QTest::newRow("slanted line") << Points { { 20, 20 }, { 120, 220 } } << cv::Point(80, 100)
                                  << cv::Point(60, 110) << 0 << true;
}

void TestInsectDetect::lineStep()
{
    QFETCH(Points, segments);
    QFETCH(cv::Point, last);
    QFETCH(cv::Point, centroid);
    QFETCH(int, age);
    QFETCH(bool, counted);

    InsectDetect detect;
    collect(detect);
    Target t = track(last, centroid, age);
    const QVector<Result> events = detect.Detect({ &t }, segments, 300, 25, tenOClock());
    QCOMPARE(events.size(), counted ? 1 : 0);
    if (!counted) {
        QVERIFY(sunk.isEmpty());
        return;
    }
    QCOMPARE(events[0].frame, 300.0);
    QCOMPARE(events[0].x, centroid.x);
    QCOMPARE(events[0].y, centroid.y);
    QCOMPARE(events[0].in, 1);
    QCOMPARE(events[0].out, 1);
    QCOMPARE(events[0].timestamp, QStringLiteral("2016-05-12_10:00:12"));
    QCOMPARE(lines(sunk),
        QStringLiteral("300;%1;%2;1;1;2016-05-12_10:00:12\n").arg(centroid.x).arg(centroid.y));
}

void TestInsectDetect::lineStepOntoAndOffTheLineCountsOnce()
{
    InsectDetect detect;
    collect(detect);
    // Lands exactly on the line, then leaves it on the far side.
    Target t = track({ 50, 90 }, { 51, 100 }, 0);
    QCOMPARE(detect.Detect({ &t }, line, 120, 25, tenOClock()).size(), 1);
    t.last = t.centroid;
    t.centroid = cv::Point(52, 110);
    QCOMPARE(detect.Detect({ &t }, line, 121, 25, tenOClock()).size(), 0);
    // Moving along the line afterwards does not count either.
    t.last = cv::Point(60, 100);
    t.centroid = cv::Point(70, 100);
    QCOMPARE(detect.Detect({ &t }, line, 122, 25, tenOClock()).size(), 0);
    QCOMPARE(lines(sunk), QStringLiteral("120;51;100;1;1;2016-05-12_10:00:04\n"));
}

void TestInsectDetect::lineCrossedBackAndForthCountsEachCrossing()
{
    InsectDetect detect;
    Target t = track({ 50, 90 }, { 52, 110 }, 0);
    QCOMPARE(detect.Detect({ &t }, line, 100, 25, tenOClock()).size(), 1);
    t.last = t.centroid;
    t.centroid = cv::Point(54, 92);
    QCOMPARE(detect.Detect({ &t }, line, 101, 25, tenOClock()).size(), 1);
    t.last = t.centroid;
    t.centroid = cv::Point(56, 108);
    QCOMPARE(detect.Detect({ &t }, line, 102, 25, tenOClock()).size(), 1);
}

void TestInsectDetect::twoTracksInOneFrame()
{
    InsectDetect detect;
    collect(detect);
    Target a = track({ 50, 90 }, { 52, 110 }, 0, 1, 1);
    Target idle = track({ 70, 50 }, { 72, 52 }, 0, 1, 2);
    Target b = track({ 150, 120 }, { 148, 95 }, 0, 1, 3);
    const QVector<Result> events = detect.Detect({ &a, &idle, &b }, line, 249, 25, tenOClock());
    QCOMPARE(events.size(), 2);
    QCOMPARE(cv::Point(events[0].x, events[0].y), a.centroid);
    QCOMPARE(cv::Point(events[1].x, events[1].y), b.centroid);
    QCOMPARE(events[0].frame, events[1].frame);
    QCOMPARE(events[0].timestamp, events[1].timestamp);
    QCOMPARE(lines(sunk),
        QStringLiteral("249;52;110;1;1;2016-05-12_10:00:09\n249;148;95;1;1;2016-05-12_10:00:09\n"));
}

// A vertical box edge at x = 100 from y = 50 to 150.
void TestInsectDetect::boxProbe_data()
{
    QTest::addColumn<cv::Point>("last");
    QTest::addColumn<cv::Point>("centroid");
    QTest::addColumn<int>("age");
    QTest::addColumn<int>("agemovement");
    QTest::addColumn<int>("in");
    QTest::addColumn<int>("out");

    // Vanished: probe from last to 5 x centroid - 4 x last.
    QTest::newRow("vanished, heading in")
        << cv::Point(90, 100) << cv::Point(95, 100) << 1 << 0 << 1 << 0;
    QTest::newRow("vanished, probe ends on the edge")
        << cv::Point(80, 100) << cv::Point(84, 100) << 1 << 0 << 1 << 0;
    QTest::newRow("vanished, probe one short")
        << cv::Point(79, 100) << cv::Point(83, 100) << 1 << 0 << 0 << 0;
    QTest::newRow("vanished, heading away")
        << cv::Point(95, 100) << cv::Point(90, 100) << 1 << 0 << 0 << 0;
    QTest::newRow("vanished, created before") << noLast << cv::Point(95, 100) << 1 << 0 << 0 << 0;
    // Appeared: probe from last to 4 x last - 3 x centroid.
    QTest::newRow("appeared, coming out")
        << cv::Point(105, 100) << cv::Point(110, 100) << 0 << 2 << 0 << 1;
    QTest::newRow("appeared, probe ends on the edge")
        << cv::Point(115, 100) << cv::Point(120, 100) << 0 << 2 << 0 << 1;
    QTest::newRow("appeared, probe one short")
        << cv::Point(116, 100) << cv::Point(121, 100) << 0 << 2 << 0 << 0;
    QTest::newRow("appeared, going in")
        << cv::Point(110, 100) << cv::Point(105, 100) << 0 << 2 << 0 << 0;
    QTest::newRow("matched once only")
        << cv::Point(105, 100) << cv::Point(110, 100) << 0 << 1 << 0 << 0;
    QTest::newRow("matched three times")
        << cv::Point(105, 100) << cv::Point(110, 100) << 0 << 3 << 0 << 0;
    QTest::newRow("unseen for two steps")
        << cv::Point(90, 100) << cv::Point(95, 100) << 2 << 0 << 0 << 0;
    QTest::newRow("crossing while seen")
        << cv::Point(95, 100) << cv::Point(105, 100) << 0 << 5 << 0 << 0;
}

void TestInsectDetect::boxProbe()
{
    QFETCH(cv::Point, last);
    QFETCH(cv::Point, centroid);
    QFETCH(int, age);
    QFETCH(int, agemovement);
    QFETCH(int, in);
    QFETCH(int, out);

    const Points edges { { 100, 50 }, { 100, 150 }, { 100, 150 }, { 300, 150 } };
    InsectDetect detect;
    Target t = track(last, centroid, age, agemovement);
    const QVector<Result> events = detect.Detect({ &t }, edges, 400, 25, tenOClock());
    QCOMPARE(events.size(), in + out);
    if (events.isEmpty())
        return;
    QCOMPARE(events[0].in, in);
    QCOMPARE(events[0].out, out);
    QCOMPARE(cv::Point(events[0].x, events[0].y), centroid);
    QCOMPARE(detect.getLastX(), centroid.x);
    QCOMPARE(detect.getLastY(), centroid.y);
    QCOMPARE(detect.getLastFrame(), 400);
}

void TestInsectDetect::boxDuplicateCheck_data()
{
    QTest::addColumn<cv::Point>("secondCentroid");
    QTest::addColumn<int>("gap");
    QTest::addColumn<bool>("counted");

    QTest::newRow("same place, same frame") << cv::Point(120, 80) << 0 << false;
    QTest::newRow("same place, 4 frames later") << cv::Point(120, 80) << 4 << false;
    QTest::newRow("same place, 5 frames later") << cv::Point(120, 80) << 5 << true;
    QTest::newRow("one pixel away, 1 frame later") << cv::Point(121, 80) << 1 << true;
}

void TestInsectDetect::boxDuplicateCheck()
{
    QFETCH(cv::Point, secondCentroid);
    QFETCH(int, gap);
    QFETCH(bool, counted);

    // A vertical edge at x = 130 that both probes cross.
    const Points edges { { 130, 40 }, { 130, 160 }, { 130, 160 }, { 10, 160 } };
    InsectDetect detect;
    Target first = track({ 110, 80 }, { 120, 80 }, 1, 0, 1);
    QCOMPARE(detect.Detect({ &first }, edges, 200, 25, tenOClock()).size(), 1);
    Target second = track(secondCentroid - cv::Point(10, 0), secondCentroid, 1, 0, 2);
    QCOMPARE(detect.Detect({ &second }, edges, 200 + gap, 25, tenOClock()).size(), counted ? 1 : 0);
    // A suppressed event does not move the reference of the check.
    QCOMPARE(detect.getLastFrame(), counted ? 200 + gap : 200);
}

void TestInsectDetect::resetClearsDuplicateCheck()
{
    const Points edges { { 130, 40 }, { 130, 160 }, { 130, 160 }, { 10, 160 } };
    InsectDetect detect;
    Target t = track({ 110, 80 }, { 120, 80 }, 1);
    QCOMPARE(detect.Detect({ &t }, edges, 200, 25, tenOClock()).size(), 1);
    detect.Reset();
    QCOMPARE(detect.getLastX(), 0);
    QCOMPARE(detect.getLastY(), 0);
    QCOMPARE(detect.getLastFrame(), 0);
    QCOMPARE(detect.Detect({ &t }, edges, 201, 25, tenOClock()).size(), 1);
}

void TestInsectDetect::boxSegmentsTakenTwoByTwo_data()
{
    QTest::addColumn<Points>("segments");
    QTest::addColumn<int>("events");

    // The vanished track below heads right along y = 100, from x = 90 to 95,
    // its probe reaching x = 115.
    const cv::Point top(100, 50);
    const cv::Point bottom(100, 150);
    QTest::newRow("no point") << Points {} << 0;
    QTest::newRow("one point") << Points { top } << 0;
    QTest::newRow("three points: the first two form the edge")
        << Points { top, bottom, { 300, 150 } } << 1;
    QTest::newRow("three points: the third is ignored")
        << Points { { 300, 150 }, { 300, 50 }, bottom } << 0;
    QTest::newRow("five points: the second pair counts")
        << Points { { 300, 150 }, { 300, 50 }, top, bottom, { 300, 150 } } << 1;
    QTest::newRow("five points: the fifth is ignored")
        << Points { { 300, 150 }, { 300, 50 }, { 250, 50 }, { 250, 150 }, top } << 0;
    QTest::newRow("two edges crossed: one event")
        << Points { { 110, 50 }, { 110, 150 }, top, bottom, bottom, { 300, 150 } } << 1;
    QTest::newRow("edge with a zero coordinate is skipped")
        << Points { { 100, 0 }, bottom, { 300, 150 }, { 300, 50 } } << 0;
    QTest::newRow("a later usable edge still counts")
        << Points { { 100, 0 }, bottom, { 110, 50 }, { 110, 150 } } << 1;
}

void TestInsectDetect::boxSegmentsTakenTwoByTwo()
{
    QFETCH(Points, segments);
    QFETCH(int, events);

    InsectDetect detect;
    Target t = track({ 90, 100 }, { 95, 100 }, 1);
    QCOMPARE(detect.Detect({ &t }, segments, 50, 25, tenOClock()).size(), events);
}

void TestInsectDetect::eventTime_data()
{
    QTest::addColumn<QDateTime>("start");
    QTest::addColumn<int>("frame");
    QTest::addColumn<int>("fps");
    QTest::addColumn<QString>("expected");

    QTest::newRow("frame 250 at 25 fps")
        << tenOClock() << 250 << 25 << QStringLiteral("2016-05-12_10:00:10");
    QTest::newRow("frame 249 at 25 fps")
        << tenOClock() << 249 << 25 << QStringLiteral("2016-05-12_10:00:09");
    QTest::newRow("frame 0") << tenOClock() << 0 << 90 << QStringLiteral("2016-05-12_10:00:00");
    QTest::newRow("90 fps, an hour in")
        << tenOClock() << 90 * 3600 + 89 << 90 << QStringLiteral("2016-05-12_11:00:00");
    QTest::newRow("over midnight") << QDateTime(QDate(2016, 12, 31), QTime(23, 59, 59)) << 30 << 30
                                   << QStringLiteral("2017-01-01_00:00:00");
    QTest::newRow("no frame rate: the start time")
        << tenOClock() << 250 << 0 << QStringLiteral("2016-05-12_10:00:00");
    QTest::newRow("no start time") << QDateTime() << 250 << 25 << QString();
}

void TestInsectDetect::eventTime()
{
    QFETCH(QDateTime, start);
    QFETCH(int, frame);
    QFETCH(int, fps);
    QFETCH(QString, expected);
    QCOMPARE(InsectDetect::eventTime(start, frame, fps), expected);

    // The events carry the same text.
    InsectDetect detect;
    Target t = track({ 50, 90 }, { 52, 110 }, 0);
    const QVector<Result> events = detect.Detect({ &t }, line, frame, fps, start);
    QCOMPARE(events.size(), 1);
    QCOMPARE(events[0].timestamp, expected);
}

void TestInsectDetect::sinkTakesEveryEventAndKeepsTheFirstFailure()
{
    InsectDetect detect;
    Target t = track({ 50, 90 }, { 52, 110 }, 0);
    // Without a sink events are only returned.
    QCOMPARE(detect.Detect({ &t }, line, 10, 25, tenOClock()).size(), 1);
    QVERIFY(detect.writeError().isEmpty());

    QStringList failures { QString(), QStringLiteral("first"), QStringLiteral("second") };
    detect.setEventSink([this, &failures](const Result &event) {
        sunk.append(event);
        return failures.takeFirst();
    });
    Target u = track({ 90, 100 }, { 95, 100 }, 1);
    for (int frame : { 1234, 1250, 1260 }) {
        const QVector<Result> events = frame == 1250
            ? detect.Detect(
                { &u }, Points { { 100, 50 }, { 100, 150 }, { 1, 1 } }, frame, 90, tenOClock())
            : detect.Detect({ &t }, line, frame, 90, tenOClock());
        // Failed or not, every event is returned.
        QCOMPARE(events.size(), 1);
    }
    QCOMPARE(lines(sunk),
        QStringLiteral("1234;52;110;1;1;2016-05-12_10:00:13\n1250;95;100;1;0;2016-05-12_10:00:13\n"
                       "1260;52;110;1;1;2016-05-12_10:00:14\n"));
    QCOMPARE(detect.writeError(), QStringLiteral("first"));
    detect.Reset();
    QVERIFY(detect.writeError().isEmpty());
}

void TestInsectDetect::traces()
{
    MessageLog log;
    InsectDetect detect;
    Target crossing = track({ 50, 90 }, { 52, 110 }, 0, 1, 7);
    Target unseen = track({ 50, 90 }, { 52, 110 }, 1, 0, 8);
    detect.Detect({ &crossing, &unseen }, line, 10, 25, tenOClock());
    // The unseen track is not considered by the line counter: no trace.
    QCOMPARE(log.texts(QtDebugMsg),
        QStringList({ QStringLiteral("targets input id = 7  seg = [50@90][52@110] age = 0"),
            QStringLiteral("area seg = [10@100][200@100]") }));

    detect.Detect({ &unseen }, Points { { 100, 50 }, { 100, 150 }, { 1, 1 } }, 10, 25, tenOClock());
    QCOMPARE(log.texts(QtDebugMsg).mid(2),
        QStringList({ QStringLiteral("targets.size = 1"),
            QStringLiteral("targets id = 8  centroid=[52@110] last=[50@90] origine=[47@105] "
                           "age = 1 agemovement = 0") }));
}

void TestInsectDetect::signalIsNeverEmitted()
{
    InsectDetect detect;
    QSignalSpy spy(&detect, &InsectDetect::Add_Insect_detected);
    QVERIFY(spy.isValid());
    Target t = track({ 50, 90 }, { 52, 110 }, 0);
    QCOMPARE(detect.Detect({ &t }, line, 10, 25, tenOClock()).size(), 1);
    QCOMPARE(spy.count(), 0);
}

QTEST_APPLESS_MAIN(TestInsectDetect)
#include "test_insectdetect.moc"
