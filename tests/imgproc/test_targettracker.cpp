#include <vector>

#include <opencv2/core.hpp>

#include <QTest>

#include "cvprint.h"
#include "imgproc/targetpool.h"
#include "imgproc/targettracker.h"
#include "imgproc/tracker.h"
#include "messagelog.h"

namespace {

constexpr int kMaxAge = Tracker::kMaxAge;
constexpr int kMaxDistance = Tracker::kMaxDistance;

// A detection as the detector makes it: a fresh record with a 10 x 10 box
// around `at`.
Target *detection(cv::Point at)
{
    Target *t = TargetPool::instance().take();
    t->init();
    t->width = 10;
    t->height = 10;
    t->origine = at - cv::Point(5, 5);
    t->centroid = at;
    return t;
}

TargetList detections(const std::vector<cv::Point> &points)
{
    TargetList list;
    for (const cv::Point &p : points)
        list.push_back(detection(p));
    return list;
}

} // namespace

class TestTargetTracker : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstDetectionsBecomeTracksInOrder();
    void noDetectionsOnlyAges();
    void unmatchedTrackDropsOnFifthCall();
    void unmatchedTrackIsCandidateUntilThen();
    void nearDetectionMergedFarOneAppended();
    void distanceLimit_data();
    void distanceLimit();
    void moreDetectionsThanTracks();
    void newTrackIsNoCandidateInSameCall();
    void agemovementCounts();
    void optimalRatherThanGreedy();
    void traceTexts();

private:
    TargetTracker tracker { kMaxAge, kMaxDistance };
    TargetList tracked;
};

void TestTargetTracker::init()
{
    TargetPool::instance().resize(1000);
    Target::reset_counter();
    tracked.clear();
}

void TestTargetTracker::cleanup()
{
    for (Target *t : tracked)
        TargetPool::instance().release(t);
    tracked.clear();
    QCOMPARE(TargetPool::instance().inUseCount(), 0);
}

void TestTargetTracker::firstDetectionsBecomeTracksInOrder()
{
    TargetList found = detections({ { 10, 10 }, { 200, 50 }, { 90, 300 } });
    const TargetList expected = found;
    for (Target *t : found) {
        t->age = 7;
        t->agemovement = 3;
    }
    tracker.track(found, tracked);
    QVERIFY(found.empty());
    QCOMPARE(tracked, expected);
    for (const Target *t : tracked) {
        QCOMPARE(t->age, 0);
        QCOMPARE(t->agemovement, 0);
    }
}

void TestTargetTracker::noDetectionsOnlyAges()
{
    TargetList found = detections({ { 10, 10 }, { 200, 50 } });
    tracker.track(found, tracked);
    const TargetList before = tracked;
    tracker.track(found, tracked);
    QCOMPARE(tracked, before);
    QCOMPARE(tracked[0]->age, 1);
    QCOMPARE(tracked[1]->age, 1);
    QCOMPARE(tracked[0]->centroid, cv::Point(10, 10));
    QCOMPARE(tracked[0]->last, cv::Point(0, 0));
}

// Four calls without a match keep the track; the fifth drops it before
// matching, so a detection right on it becomes a new track.
void TestTargetTracker::unmatchedTrackDropsOnFifthCall()
{
    TargetList found = detections({ { 100, 100 } });
    tracker.track(found, tracked);
    Target *track = tracked.front();
    const int freeBefore = TargetPool::instance().freeCount();
    for (int call = 1; call <= 4; ++call) {
        tracker.track(found, tracked);
        QCOMPARE(tracked.size(), size_t(1));
        QCOMPARE(track->age, call);
    }
    found = detections({ { 100, 100 } });
    Target *fresh = found.front();
    tracker.track(found, tracked);
    QCOMPARE(tracked, TargetList { fresh });
    QCOMPARE(fresh->last, cv::Point(0, 0));
    QVERIFY(!fresh->lastKnown);
    // The old record went back to the pool, the new one left it.
    QCOMPARE(TargetPool::instance().freeCount(), freeBefore);
}

void TestTargetTracker::unmatchedTrackIsCandidateUntilThen()
{
    TargetList found = detections({ { 100, 100 } });
    tracker.track(found, tracked);
    Target *track = tracked.front();
    for (int call = 1; call <= 3; ++call)
        tracker.track(found, tracked);
    found = detections({ { 103, 104 } });
    tracker.track(found, tracked);
    QCOMPARE(tracked, TargetList { track });
    QCOMPARE(track->age, 0);
    QCOMPARE(track->centroid, cv::Point(103, 104));
    QCOMPARE(track->last, cv::Point(100, 100));
    QVERIFY(track->lastKnown);
}

void TestTargetTracker::nearDetectionMergedFarOneAppended()
{
    TargetList found = detections({ { 100, 100 } });
    tracker.track(found, tracked);
    Target *track = tracked.front();

    found = detections({ { 104, 103 }, { 300, 300 } });
    Target *far = found[1];
    const int freeBefore = TargetPool::instance().freeCount();
    tracker.track(found, tracked);

    QVERIFY(found.empty());
    QCOMPARE(tracked, (TargetList { track, far }));
    QCOMPARE(track->centroid, cv::Point(104, 103));
    QCOMPARE(track->last, cv::Point(100, 100));
    QCOMPARE(track->origine, cv::Point(99, 98));
    QCOMPARE(track->age, 0);
    QCOMPARE(track->agemovement, 1);
    QCOMPARE(far->age, 0);
    QCOMPARE(far->agemovement, 0);
    // The merged detection went back to the pool.
    QCOMPARE(TargetPool::instance().freeCount(), freeBefore + 1);
}

void TestTargetTracker::distanceLimit_data()
{
    QTest::addColumn<cv::Point>("to");
    QTest::addColumn<bool>("merged");

    QTest::newRow("1000 along x") << cv::Point(1100, 100) << true;
    QTest::newRow("1001 along x") << cv::Point(1101, 100) << false;
    QTest::newRow("1000 along a 3-4-5 line") << cv::Point(700, 900) << true;
    // 1000.48 is cut to 1000.
    QTest::newRow("1000.48 truncated") << cv::Point(1100, 131) << true;
    // 1001.01 is cut to 1001.
    QTest::newRow("1001.01 truncated") << cv::Point(1100, 145) << false;
}

void TestTargetTracker::distanceLimit()
{
    QFETCH(cv::Point, to);
    QFETCH(bool, merged);
    TargetList found = detections({ { 100, 100 } });
    tracker.track(found, tracked);
    Target *track = tracked.front();

    found = detections({ to });
    Target *d = found.front();
    tracker.track(found, tracked);
    if (merged) {
        QCOMPARE(tracked, TargetList { track });
        QCOMPARE(track->centroid, to);
    } else {
        QCOMPARE(tracked, (TargetList { track, d }));
        QCOMPARE(track->centroid, cv::Point(100, 100));
        QCOMPARE(track->age, 1);
    }
}

void TestTargetTracker::moreDetectionsThanTracks()
{
    TargetList found = detections({ { 100, 100 }, { 400, 100 } });
    tracker.track(found, tracked);
    const TargetList tracks = tracked;

    found = detections({ { 50, 50 }, { 398, 103 }, { 600, 600 }, { 101, 99 } });
    const TargetList fresh = { found[0], found[2] };
    tracker.track(found, tracked);

    QCOMPARE(tracked, (TargetList { tracks[0], tracks[1], fresh[0], fresh[1] }));
    QCOMPARE(tracks[0]->centroid, cv::Point(101, 99));
    QCOMPARE(tracks[1]->centroid, cv::Point(398, 103));
}

// A detection that started a track in this call is not matched by the ones
// that follow, even right on top of it.
void TestTargetTracker::newTrackIsNoCandidateInSameCall()
{
    TargetList found = detections({ { 100, 100 } });
    tracker.track(found, tracked);
    found = detections({ { 102, 100 }, { 900, 700 }, { 901, 700 } });
    const TargetList expected = { tracked[0], found[1], found[2] };
    tracker.track(found, tracked);
    QCOMPARE(tracked, expected);
}

void TestTargetTracker::agemovementCounts()
{
    TargetList found = detections({ { 100, 100 } });
    tracker.track(found, tracked);
    Target *track = tracked.front();
    QCOMPARE(track->agemovement, 0);

    found = detections({ { 105, 100 } });
    tracker.track(found, tracked);
    found = detections({ { 110, 100 } });
    tracker.track(found, tracked);
    QCOMPARE(track->agemovement, 2);
    QCOMPARE(track->age, 0);

    // Unmatched: the count is kept until the next call...
    tracker.track(found, tracked);
    QCOMPARE(track->agemovement, 2);
    QCOMPARE(track->age, 1);
    // ...which starts it again.
    found = detections({ { 115, 100 } });
    tracker.track(found, tracked);
    QCOMPARE(track->agemovement, 1);
    QCOMPARE(track->age, 0);
}

// Two tracks, two detections: pairing the first detection with its nearest
// track would cost 1 + 40; the assignment takes 19 + 20.
void TestTargetTracker::optimalRatherThanGreedy()
{
    TargetList found = detections({ { 100, 100 }, { 120, 100 } });
    tracker.track(found, tracked);
    const TargetList tracks = tracked;
    found = detections({ { 119, 100 }, { 140, 100 } });
    tracker.track(found, tracked);
    QCOMPARE(tracked, tracks);
    QCOMPARE(tracks[0]->centroid, cv::Point(119, 100));
    QCOMPARE(tracks[1]->centroid, cv::Point(140, 100));
}

void TestTargetTracker::traceTexts()
{
    TargetList found = detections({ { 100, 100 } });
    tracker.track(found, tracked);
    const int trackId = tracked.front()->id;

    found = detections({ { 104, 103 }, { 300, 300 } });
    const int nearId = found[0]->id;
    const int farId = found[1]->id;
    MessageLog log;
    tracker.track(found, tracked);

    const QStringList debug = log.texts(QtDebugMsg);
    // cost(300,300 to 100,100) = 282.8, cut to 282.
    const QString costs = QStringLiteral("Costs\n\t%1\t\n%2:\t5\t\n%3:\t282\t\n")
                              .arg(trackId)
                              .arg(nearId)
                              .arg(farId);
    const QString results = QStringLiteral("Results\n\t%1\t\n%2:\t0\t\n%3:\t-1\t\n")
                                .arg(trackId)
                                .arg(nearId)
                                .arg(farId);
    const QStringList expected = {
        costs,
        results,
        QStringLiteral("Looking at detected # %1").arg(nearId),
        QStringLiteral("Looking at tracked # 0"),
        QStringLiteral("Target Tracked #0 matched"),
        QStringLiteral("Update target %1 with target %2").arg(trackId).arg(nearId),
        QStringLiteral("Looking at detected # %1").arg(farId),
        QStringLiteral("Looking at tracked # 0"),
    };
    QCOMPARE(debug, expected);
}

QTEST_APPLESS_MAIN(TestTargetTracker)
#include "test_targettracker.moc"
