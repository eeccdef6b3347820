#include <QTest>
#include <cmath>

#include <opencv2/core.hpp>

#include "cvprint.h"
#include "messagelog.h"
#include "target.h"
#include "targetpool.h"

class TestTarget : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void idsCountFromZero();
    void initGivesFreshIdentity();
    void updateKeepsPreviousCentroid();
    void distance_data();
    void distance();
    void printLine();
    void poolHandsOutInStorageOrder();
    void poolIsFirstInFirstOut();
    void exhaustedPoolReturnsNull();
};

void TestTarget::init()
{
    TargetPool::instance().resize(1000);
    Target::reset_counter();
}

void TestTarget::cleanup()
{
    TargetPool::destroy();
}

void TestTarget::idsCountFromZero()
{
    Target a;
    Target b;
    a.init();
    b.init();
    QCOMPARE(a.id, 0);
    QCOMPARE(b.id, 1);
    QCOMPARE(Target::counter(), 2);
    Target::reset_counter();
    a.init();
    QCOMPARE(a.id, 0);
}

void TestTarget::initGivesFreshIdentity()
{
    Target t;
    t.origine = cv::Point(3, 4);
    t.centroid = cv::Point(5, 6);
    t.last = cv::Point(7, 8);
    t.width = 9;
    t.height = 10;
    t.age = 3;
    t.agemovement = 4;
    t.init();
    QCOMPARE(t.origine, cv::Point(-1, -1));
    QCOMPARE(t.centroid, cv::Point(-1, -1));
    QCOMPARE(t.last, cv::Point(0, 0));
    QCOMPARE(t.width, 0);
    QCOMPARE(t.height, 0);
    QCOMPARE(t.age, 0);
    // Left to the tracker.
    QCOMPARE(t.agemovement, 4);
}

void TestTarget::updateKeepsPreviousCentroid()
{
    Target track;
    track.init();
    track.centroid = cv::Point(10, 20);
    track.age = 2;
    track.agemovement = 5;
    Target seen;
    seen.init();
    seen.centroid = cv::Point(14, 23);
    seen.origine = cv::Point(9, 18);
    seen.width = 11;
    seen.height = 12;
    const int id = track.id;
    track.update(seen);
    QCOMPARE(track.last, cv::Point(10, 20));
    QCOMPARE(track.centroid, cv::Point(14, 23));
    QCOMPARE(track.origine, cv::Point(9, 18));
    QCOMPARE(track.width, 11);
    QCOMPARE(track.height, 12);
    QCOMPARE(track.id, id);
    QCOMPARE(track.age, 2);
    QCOMPARE(track.agemovement, 5);
}

void TestTarget::distance_data()
{
    QTest::addColumn<cv::Point>("a");
    QTest::addColumn<cv::Point>("b");
    QTest::addColumn<double>("expected");
    QTest::newRow("3-4-5") << cv::Point(100, 100) << cv::Point(104, 103) << 5.0;
    QTest::newRow("same place") << cv::Point(7, 7) << cv::Point(7, 7) << 0.0;
    QTest::newRow("negative steps") << cv::Point(10, 10) << cv::Point(4, 2) << 10.0;
    QTest::newRow("diagonal") << cv::Point(0, 0) << cv::Point(1, 1) << std::sqrt(2.0);
}

void TestTarget::distance()
{
    QFETCH(cv::Point, a);
    QFETCH(cv::Point, b);
    QFETCH(double, expected);
    Target ta;
    Target tb;
    ta.centroid = a;
    tb.centroid = b;
    QCOMPARE(ta.distance_to(tb), expected);
    QCOMPARE(tb.distance_to(ta), expected);
}

void TestTarget::printLine()
{
    Target t;
    t.id = 12;
    t.centroid = cv::Point(30, 40);
    t.last = cv::Point(25, 35);
    t.origine = cv::Point(20, 31);
    MessageLog log;
    t.print();
    QCOMPARE(log.texts(QtDebugMsg),
        QStringList { QStringLiteral("Target 12 @ 30x40 [Last @ 25x35] : Origin @ 20x31") });
}

void TestTarget::poolHandsOutInStorageOrder()
{
    TargetPool &pool = TargetPool::instance();
    Target *first = pool.take();
    Target *second = pool.take();
    QCOMPARE(second, first + 1);
    QCOMPARE(pool.inUseCount(), 2);
    QCOMPARE(pool.freeCount(), 998);
}

// A released record goes to the back and comes out only after every record
// that was free before it.
void TestTarget::poolIsFirstInFirstOut()
{
    TargetPool &pool = TargetPool::instance();
    TargetPool::instance().resize(3);
    Target *a = pool.take();
    Target *b = pool.take();
    pool.release(a);
    QCOMPARE(pool.take(), b + 1);
    QCOMPARE(pool.take(), a);
    QCOMPARE(pool.take(), static_cast<Target *>(nullptr));
}

void TestTarget::exhaustedPoolReturnsNull()
{
    TargetPool &pool = TargetPool::instance();
    for (int i = 0; i < 1000; ++i)
        QVERIFY(pool.take() != nullptr);
    QCOMPARE(pool.take(), static_cast<Target *>(nullptr));
    QCOMPARE(pool.inUseCount(), 1000);
    QCOMPARE(pool.freeCount(), 0);
}

QTEST_APPLESS_MAIN(TestTarget)
#include "test_target.moc"
