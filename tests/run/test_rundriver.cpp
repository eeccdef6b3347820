#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "insectscene.h"
#include "run/rundriver.h"
#include "scenes/groundtruthscene.h"
#include "testfiles.h"
#include "testvideo.h"
#include "zones/videofiles.h"

namespace {

// Crossed once, in and out, at frame 115 by insectscene::rightwards.
const std::vector<cv::Point> crossingLine { { 132, 60 }, { 132, 180 } };

// What a driver reported over a run.
struct Reports
{
    std::vector<RunDriver::VideoEnd> ends;
    std::vector<RunDriver::Totals> finished;
    QStringList started;
    int frames = 0;

    explicit Reports(RunDriver &driver)
    {
        QObject::connect(&driver, &RunDriver::videoEnded,
            [this](const RunDriver::VideoEnd &end) { ends.push_back(end); });
        QObject::connect(&driver, &RunDriver::finished,
            [this](const RunDriver::Totals &totals) { finished.push_back(totals); });
        QObject::connect(
            &driver, &RunDriver::videoStarted, [this](const QString &video) { started << video; });
        QObject::connect(&driver, &RunDriver::frameProcessed, [this] { ++frames; });
    }
};

} // namespace

Q_DECLARE_METATYPE(RunDriver::Outcome)

class TestRunDriver : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void oneVideo_data();
    void oneVideo();
    void queueTotals();
    void ownBoxes_data();
    void ownBoxes();

private:
    QString work(const QString &name) const { return dir.filePath(QStringLiteral("work/") + name); }
    // A copy of a prepared video under `name` in the work folder, with the
    // crossing line and the whole frame as its boxes.
    QString addVideo(const QString &name, const QString &source);

    QTemporaryDir dir;
    QString crossing; // 140 frames
    QString shortVideo; // 60 frames: no frame 90
    QString large; // 640x480
    QString truncated; // half the bytes of 300 frames
    AreaContour zones; // the crossing line in the whole frame
};

void TestRunDriver::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("source"))));
    crossing = dir.filePath(QStringLiteral("source/crossing.mp4"));
    QVERIFY(insectscene::write(crossing, 140, insectscene::rightwards));
    zones = GroundTruthScene::saveBoxes(crossing, crossingLine, insectscene::wholeFrame());
    shortVideo = dir.filePath(QStringLiteral("source/short.mp4"));
    QVERIFY(insectscene::write(shortVideo, 60, insectscene::rightwards));
    large = dir.filePath(QStringLiteral("source/large.mp4"));
    QVERIFY(insectscene::write(large, 100, insectscene::rightwards, 90, cv::Size(640, 480)));

    const QString whole = dir.filePath(QStringLiteral("source/whole.mp4"));
    QVERIFY(testvideo::encodeTestSource(QStringLiteral("320x240"), 300,
        { QStringLiteral("-movflags"), QStringLiteral("+faststart"), whole }));
    const QByteArray bytes = testfiles::read(whole);
    truncated = dir.filePath(QStringLiteral("source/truncated.mp4"));
    QVERIFY(testfiles::write(truncated, bytes.left(bytes.size() / 2)));
}

void TestRunDriver::init()
{
    QDir folder(work(QString()));
    QVERIFY(folder.removeRecursively());
    QVERIFY(QDir().mkpath(folder.path()));
}

QString TestRunDriver::addVideo(const QString &name, const QString &source)
{
    const QString video = work(name);
    if (!QFile::copy(source, video))
        return QString();
    GroundTruthScene::saveBoxes(video, crossingLine, insectscene::wholeFrame());
    return video;
}

void TestRunDriver::oneVideo_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<RunDriver::Outcome>("outcome");
    QTest::addColumn<bool>("started");
    QTest::addColumn<QString>("reason"); // contained in the reason
    QTest::addColumn<QString>("summary"); // the start of the summary line

    using O = RunDriver::Outcome;
    QTest::newRow("done") << "done" << O::Done << true << QString() << "v: 49 frames, 1 in, 1 out";
    QTest::newRow("skipped: no frame 90")
        << "short" << O::Skipped << false << "it has no frame 90" << QString();
    QTest::newRow("skipped: other frame size")
        << "large" << O::Skipped << false << "its frames are 640x480, the run's are 320x240"
        << QString();
    QTest::newRow("skipped: another run holds it")
        << "locked" << O::Skipped << false
        << QStringLiteral("it is being processed by process %1")
               .arg(QCoreApplication::applicationPid())
        << QString();
    QTest::newRow("failed at the start: name not in the system's encoding")
        << "name" << O::Failed << false << "its name is not valid text"
        << "v\uFFFD: failed: its name";
    QTest::newRow("failed at the end: count file a directory")
        << "csv directory" << O::Failed << true << "v.csv: it is a directory"
        << "v: failed: ";
    QTest::newRow("ended early") << "truncated" << O::EndedEarly << true << "ended at frame "
                                 << "v: ";
    QTest::newRow("cancelled") << "cancel" << O::Cancelled << true << QString()
                               << "v: interrupted after 10 frames, ";
}

void TestRunDriver::oneVideo()
{
    QFETCH(QString, kind);
    QFETCH(RunDriver::Outcome, outcome);
    QFETCH(bool, started);
    QFETCH(QString, reason);
    QFETCH(QString, summary);

    QString video;
    if (kind == QLatin1String("name")) {
        video = work(QStringLiteral("v\uFFFD.mp4"));
    } else {
        const QString source = kind == QLatin1String("short") ? shortVideo
            : kind == QLatin1String("large")                  ? large
            : kind == QLatin1String("truncated")              ? truncated
                                                              : crossing;
        video = addVideo(QStringLiteral("v.mp4"), source);
        QVERIFY(!video.isEmpty());
    }
    if (kind == QLatin1String("csv directory"))
        QVERIFY(QDir().mkpath(VideoFiles::resultFile(video)));
    // Another run with the video open holds its lock.
    ProcessRun holder;
    if (kind == QLatin1String("locked")) {
        holder.start(zones, insectscene::kSize, { video });
        FrameReader reader;
        QVERIFY(holder.openNext(reader));
    }
    const std::map<QString, QByteArray> before = testfiles::snapshot(work(QString()));

    RunDriver driver;
    const Reports reports(driver);
    driver.start(zones, insectscene::kSize, { video });
    QCOMPARE(driver.next(), video);
    if (kind == QLatin1String("cancel")) {
        for (int i = 0; i < 11; ++i) // opening and 10 frames
            QVERIFY(driver.step());
        QVERIFY(driver.inVideo());
        driver.cancel();
        QVERIFY(!driver.step());
    } else {
        int steps = 0;
        while (driver.step())
            QVERIFY(++steps < 1000);
        QCOMPARE(reports.finished.size(), size_t(1));
    }
    QVERIFY(!driver.running());

    QCOMPARE(reports.ends.size(), size_t(1));
    const RunDriver::VideoEnd &end = reports.ends.front();
    QCOMPARE(end.video, video);
    QCOMPARE(end.outcome, outcome);
    QCOMPARE(end.started, started);
    QCOMPARE(reports.started.size(), started ? 1 : 0);
    QVERIFY2(reason.isEmpty() ? end.reason.isEmpty() : end.reason.contains(reason),
        qPrintable(end.reason));
    QVERIFY(end.writeErrors.isEmpty());
    QVERIFY2(
        summary.isEmpty() ? end.summaryLine().isEmpty() : end.summaryLine().startsWith(summary),
        qPrintable(end.summaryLine()));
    QCOMPARE(end.frames, reports.frames);
    if (outcome == RunDriver::Outcome::EndedEarly)
        QVERIFY(end.summaryLine().endsWith(QStringLiteral(", ") + end.reason));

    const RunDriver::Totals &totals = driver.totals();
    QCOMPARE(totals.queued, 1);
    QCOMPARE(totals.done,
        outcome == RunDriver::Outcome::Done || outcome == RunDriver::Outcome::EndedEarly ? 1 : 0);
    QCOMPARE(totals.endedEarly, outcome == RunDriver::Outcome::EndedEarly ? 1 : 0);
    QCOMPARE(totals.skipped, outcome == RunDriver::Outcome::Skipped ? 1 : 0);
    QCOMPARE(totals.failed, outcome == RunDriver::Outcome::Failed ? 1 : 0);
    QCOMPARE(totals.cancelled, outcome == RunDriver::Outcome::Cancelled ? 1 : 0);
    QCOMPARE(totals.in, end.in);
    QCOMPARE(totals.out, end.out);

    // A video that was not started is left as it was; a started one that
    // did not end well keeps only its partial counts beside its files.
    const bool complete
        = outcome == RunDriver::Outcome::Done || outcome == RunDriver::Outcome::EndedEarly;
    if (!started) {
        QVERIFY(testfiles::snapshot(work(QString())) == before);
        return;
    }
    QCOMPARE(QFileInfo(VideoFiles::resultFile(video)).isFile(), complete);
    QCOMPARE(QFileInfo::exists(VideoFiles::partialResultFile(video)), !complete);
}

void TestRunDriver::queueTotals()
{
    const QString first = addVideo(QStringLiteral("a.mp4"), crossing);
    const QString skipped = addVideo(QStringLiteral("b.mp4"), shortVideo);
    const QString last = addVideo(QStringLiteral("c.mp4"), crossing);
    QVERIFY(!first.isEmpty() && !skipped.isEmpty() && !last.isEmpty());

    RunDriver driver;
    const Reports reports(driver);
    driver.start(zones, insectscene::kSize, { first, skipped, last });
    QStringList order;
    while (driver.step()) {
        if (order.isEmpty() || order.last() != driver.current().video())
            order << driver.current().video();
    }
    QCOMPARE(order, QStringList({ first, skipped, last }));
    QCOMPARE(driver.videoIndex(), 3);
    QVERIFY(!driver.step());
    QCOMPARE(reports.finished.size(), size_t(1));
    QCOMPARE(reports.started, QStringList({ first, last }));

    const RunDriver::Totals &totals = reports.finished.front();
    QCOMPARE(totals.queued, 3);
    QCOMPARE(totals.done, 2);
    QCOMPARE(totals.skipped, 1);
    QCOMPARE(totals.failed + totals.endedEarly + totals.cancelled + totals.withWriteErrors, 0);
    QCOMPARE(reports.ends.size(), size_t(3));
    QCOMPARE(reports.ends[0].summaryLine(), QStringLiteral("a: 49 frames, 1 in, 1 out"));
    QCOMPARE(reports.ends[1].frames, 0);
    QCOMPARE(totals.in, reports.ends[0].in + reports.ends[2].in);
    QCOMPARE(totals.out, reports.ends[0].out + reports.ends[2].out);
}

void TestRunDriver::ownBoxes_data()
{
    QTest::addColumn<QByteArray>("area"); // "dir": a directory
    QTest::addColumn<QByteArray>("mask");
    QTest::addColumn<bool>("own");

    const QByteArray box("5,5\n300,5\n300,200\n5,5\n");
    QTest::newRow("another line") << QByteArray("100,60\n100,180\n") << box << true;
    QTest::newRow("a tracking box of two points")
        << QByteArray("100,60\n100,180\n") << QByteArray("0,0\n9,9\n9,9\n") << false;
    QTest::newRow("counting box file a directory") << QByteArray("dir") << box << false;
}

void TestRunDriver::ownBoxes()
{
    QFETCH(QByteArray, area);
    QFETCH(QByteArray, mask);
    QFETCH(bool, own);

    // The open video's boxes and those equal to the run's are never its own.
    const QString current = work(QStringLiteral("current.mp4"));
    GroundTruthScene::saveBoxes(current, { { 7, 7 }, { 70, 70 } }, insectscene::wholeFrame());
    const QString same = work(QStringLiteral("same.mp4"));
    GroundTruthScene::saveBoxes(same, crossingLine, insectscene::wholeFrame());
    const QString other = work(QStringLiteral("other.mp4"));
    QVERIFY(area == "dir" ? QDir().mkpath(VideoFiles::areaFile(other))
                          : testfiles::write(VideoFiles::areaFile(other), area));
    QVERIFY(testfiles::write(VideoFiles::maskFile(other), mask));

    const QHash<QString, AreaContour> found
        = RunDriver::ownBoxes(current, zones, { current, same, other });
    QCOMPARE(found.keys(), own ? QStringList { other } : QStringList());
    if (own)
        QCOMPARE(found.value(other).getMask(),
            (std::vector<cv::Point> { { 5, 5 }, { 300, 5 }, { 300, 200 }, { 5, 5 } }));
}

QTEST_APPLESS_MAIN(TestRunDriver)
#include "test_rundriver.moc"
