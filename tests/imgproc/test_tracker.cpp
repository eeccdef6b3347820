#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include "cvprint.h"
#include "imgproc/classiccounting.h"
#include "imgproc/targetpool.h"
#include "imgproc/tracker.h"
#include "messagelog.h"
#include "testvideo.h"

namespace {

const cv::Size kSize(320, 240);

cv::Mat greyBackground()
{
    cv::Mat grey;
    cv::cvtColor(testvideo::background(kSize), grey, cv::COLOR_BGR2GRAY);
    return grey;
}

cv::Mat withDisks(const std::vector<cv::Point> &centres)
{
    cv::Mat frame = greyBackground();
    for (const cv::Point &c : centres)
        cv::circle(frame, c, 8, cv::Scalar(20), cv::FILLED);
    return frame;
}

cv::Mat openMask()
{
    return cv::Mat(kSize, CV_8UC1, cv::Scalar(255));
}

struct Snapshot
{
    Target *pointer;
    Target record;
};

std::vector<Snapshot> snapshot(const TargetList &list)
{
    std::vector<Snapshot> out;
    for (Target *t : list)
        out.push_back({ t, *t });
    return out;
}

bool unchanged(const std::vector<Snapshot> &before, const TargetList &now)
{
    if (before.size() != now.size())
        return false;
    for (size_t i = 0; i < now.size(); ++i) {
        const Target &a = before[i].record;
        const Target &b = *now[i];
        if (before[i].pointer != now[i] || a.id != b.id || a.age != b.age
            || a.agemovement != b.agemovement || a.centroid != b.centroid || a.last != b.last
            || a.origine != b.origine || a.width != b.width || a.height != b.height)
            return false;
    }
    return true;
}

} // namespace

class TestTracker : public QObject
{
    Q_OBJECT

private slots:
    void init() { Target::reset_counter(); }
    void ownsThePool();
    void followsAMovingBlob();
    void firstFrameAfterMaskOnlyAges();
    void resetRestartsIds();
    void resetOfEmptyListsKeepsCounter();
    void refusesBadFrames_data();
    void refusesBadFrames();
    void refusesOtherSizeWithoutMask();
    void logsItsDuration();
    void pipelineConstants_data();
    void pipelineConstants();
    void readmeStatesClassicValues();
};

void TestTracker::ownsThePool()
{
    {
        Tracker tracker;
        QCOMPARE(TargetPool::instance().capacity(), 1000);
        QCOMPARE(TargetPool::instance().freeCount(), 1000);
        QCOMPARE(TargetPool::instance().inUseCount(), 0);
        QVERIFY(tracker.trackedTargets().empty());
    }
    // Destroyed with the tracker: the next use creates a fresh, small pool.
    QCOMPARE(TargetPool::instance().capacity(), 10);
}

// A disk moving 4 pixels per frame: one track that keeps its id, whose step
// is the disk's step, and whose agemovement counts the frames.
void TestTracker::followsAMovingBlob()
{
    Tracker tracker;
    tracker.reset();
    tracker.detector().set_mask(openMask());
    const cv::Point start(60, 120);
    const cv::Point step(4, 1);

    QVERIFY(tracker.process(withDisks({ start })));
    QVERIFY(tracker.trackedTargets().empty());
    for (int frame = 1; frame <= 12; ++frame) {
        QVERIFY(tracker.process(withDisks({ start + frame * step })));
        QCOMPARE(tracker.trackedTargets().size(), size_t(1));
        const Target &t = *tracker.trackedTargets().front();
        QCOMPARE(t.id, 0);
        QCOMPARE(t.age, 0);
        QCOMPARE(t.agemovement, frame - 1);
        if (frame > 1)
            QCOMPARE(t.centroid - t.last, step);
    }
    // Every frame took one detection from the pool; all but the track went back.
    QCOMPARE(TargetPool::instance().inUseCount(), 1);
    QCOMPARE(Target::counter(), 12);
}

void TestTracker::firstFrameAfterMaskOnlyAges()
{
    Tracker tracker;
    tracker.detector().set_mask(openMask());
    tracker.process(greyBackground());
    tracker.process(withDisks({ { 80, 80 }, { 240, 160 } }));
    QCOMPARE(tracker.trackedTargets().size(), size_t(2));
    const TargetList tracks = tracker.trackedTargets();

    tracker.detector().set_mask(openMask());
    QVERIFY(tracker.process(withDisks({ { 160, 40 } })));
    QCOMPARE(tracker.trackedTargets(), tracks);
    for (const Target *t : tracks)
        QCOMPARE(t->age, 1);
}

void TestTracker::resetRestartsIds()
{
    Tracker tracker;
    tracker.detector().set_mask(openMask());
    tracker.process(greyBackground());
    tracker.process(withDisks({ { 50, 50 }, { 250, 50 }, { 150, 190 } }));
    QCOMPARE(tracker.trackedTargets().size(), size_t(3));
    QCOMPARE(Target::counter(), 3);

    tracker.reset();
    QVERIFY(tracker.trackedTargets().empty());
    QCOMPARE(TargetPool::instance().freeCount(), 1000);
    QCOMPARE(Target::counter(), 0);

    // The reference is not touched by reset: the disks vanishing are seen.
    tracker.process(greyBackground());
    QCOMPARE(tracker.trackedTargets().size(), size_t(3));
    QCOMPARE(tracker.trackedTargets().front()->id, 0);
}

void TestTracker::resetOfEmptyListsKeepsCounter()
{
    Tracker tracker;
    Target scratch;
    scratch.init();
    scratch.init();
    const int counter = Target::counter();
    QVERIFY(counter > 0);
    tracker.reset();
    QCOMPARE(Target::counter(), counter);
}

void TestTracker::refusesBadFrames_data()
{
    QTest::addColumn<cv::Mat>("frame");
    QTest::newRow("empty") << cv::Mat();
    QTest::newRow("other size") << cv::Mat(cv::Size(640, 480), CV_8UC1, cv::Scalar(0));
    QTest::newRow("one row less") << cv::Mat(cv::Size(320, 239), CV_8UC1, cv::Scalar(0));
    QTest::newRow("colour") << cv::Mat(kSize, CV_8UC3, cv::Scalar::all(0));
    QTest::newRow("16 bit") << cv::Mat(kSize, CV_16UC1, cv::Scalar(0));
    QTest::newRow("signed 8 bit") << cv::Mat(kSize, CV_8SC1, cv::Scalar(0));
}

void TestTracker::refusesBadFrames()
{
    QFETCH(cv::Mat, frame);
    Tracker tracker;
    tracker.detector().set_mask(openMask());
    tracker.process(greyBackground());
    const cv::Mat last = withDisks({ { 80, 80 }, { 240, 160 } });
    tracker.process(last);
    const std::vector<Snapshot> before = snapshot(tracker.trackedTargets());
    QCOMPARE(before.size(), size_t(2));
    const cv::Mat reference = tracker.detector().reference().clone();

    MessageLog log;
    QVERIFY(!tracker.process(frame));
    QCOMPARE(log.count(QtWarningMsg), 1);
    QVERIFY(unchanged(before, tracker.trackedTargets()));
    QCOMPARE(cv::countNonZero(tracker.detector().reference() != reference), 0);
    QCOMPARE(TargetPool::instance().inUseCount(), 2);

    // Processing goes on as if the bad frame had never come.
    QVERIFY(tracker.process(last));
    QCOMPARE(tracker.trackedTargets().size(), size_t(2));
    QCOMPARE(tracker.trackedTargets()[0]->age, 1);
}

void TestTracker::refusesOtherSizeWithoutMask()
{
    Tracker tracker;
    QVERIFY(tracker.process(greyBackground()));
    QVERIFY(!tracker.process(cv::Mat(cv::Size(160, 120), CV_8UC1, cv::Scalar(0))));
    QVERIFY(tracker.process(withDisks({ { 100, 100 } })));
    QCOMPARE(tracker.trackedTargets().size(), size_t(1));
}

void TestTracker::logsItsDuration()
{
    Tracker tracker;
    tracker.detector().set_mask(openMask());
    MessageLog log;
    tracker.process(greyBackground());
    tracker.process(withDisks({ { 100, 100 } }));
    const QRegularExpression exec(QStringLiteral("^Exec in \\d+ ms$"));
    QCOMPARE(log.countMatching(QtDebugMsg, exec), 2);
    QCOMPARE(log.count(QtWarningMsg), 0);
}

void TestTracker::pipelineConstants_data()
{
    QTest::addColumn<int>("jump"); // px to the right where the blob shows up again, 0 for never
    QTest::addColumn<int>("unseen"); // frames without a detection at the end
    QTest::addColumn<int>("id"); // of the one track left, -1 for none

    // The pipeline's tracks: matched up to 1000 px away, dropped after five
    // passes unseen. The frame after a blob vanishes still detects the place
    // it left.
    QTest::newRow("back 150 px away: same track") << 150 << 0 << 0;
    QTest::newRow("back 240 px away: same track") << 240 << 0 << 0;
    QTest::newRow("four passes unseen: still tracked") << 0 << 4 << 0;
    QTest::newRow("five passes unseen: gone") << 0 << 5 << -1;
    QTest::newRow("six passes unseen: gone") << 0 << 6 << -1;
}

void TestTracker::pipelineConstants()
{
    QFETCH(int, jump);
    QFETCH(int, unseen);
    QFETCH(int, id);

    Tracker tracker;
    tracker.reset();
    tracker.detector().set_mask(openMask());
    cv::Point at(40, 120);
    QVERIFY(tracker.process(withDisks({ at })));
    for (int frame = 1; frame <= 4; ++frame) {
        at += cv::Point(4, 0);
        QVERIFY(tracker.process(withDisks({ at })));
    }
    QVERIFY(tracker.process(greyBackground())); // gone: the place it left is seen
    if (jump != 0) {
        at += cv::Point(jump, 0);
        QVERIFY(tracker.process(withDisks({ at })));
    }
    for (int frame = 0; frame < unseen; ++frame)
        QVERIFY(tracker.process(greyBackground()));

    if (id < 0) {
        QVERIFY(tracker.trackedTargets().empty());
        return;
    }
    QCOMPARE(tracker.trackedTargets().size(), size_t(1));
    const Target &t = *tracker.trackedTargets().front();
    QCOMPARE(t.id, id);
    QCOMPARE(t.age, unseen);
    if (jump != 0)
        QVERIFY2(cv::norm(t.centroid - at) <= 2,
            qPrintable(QStringLiteral("%1,%2").arg(t.centroid.x).arg(t.centroid.y)));
}

// The values a classic run record lists are the code's, and the README's.
void TestTracker::readmeStatesClassicValues()
{
    const QVariantMap values = ClassicCounting::values();
    QCOMPARE(values.value(QStringLiteral("max_age")).toInt(), Tracker::kMaxAge);
    QCOMPARE(values.value(QStringLiteral("max_distance")).toInt(), Tracker::kMaxDistance);
    QCOMPARE(values.value(QStringLiteral("difference_threshold")).toInt(), MvtDetector::kThreshold);
    QFile readme(QStringLiteral(KESTRIN_README));
    QVERIFY(readme.open(QIODevice::ReadOnly));
    // The README wraps its lines: compare with single spaces.
    const QString text = QString::fromUtf8(readme.readAll()).simplified();
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const QString stated = QStringLiteral("`%1` %2").arg(it.key(), it.value().toString());
        QVERIFY2(text.contains(stated), qPrintable(stated));
    }
}

QTEST_APPLESS_MAIN(TestTracker)
#include "test_tracker.moc"
