#include <limits>
#include <map>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include "cvprint.h"
#include "insectscene.h"
#include "messagelog.h"
#include "run/processrun.h"
#include "scenes/groundtruthscene.h"
#include "testfiles.h"
#include "testvideo.h"
#include "zones/areacontour.h"
#include "zones/resultfile.h"
#include "zones/videofiles.h"

namespace {

const QByteArray header("Frame;X;Y;In;Out;Timestamp\n");

// A vertical counting line at x = 132: the disc's centroids run 128 at frame
// 114 and 136 at frame 115, so the step of frame 115 crosses it.
const std::vector<cv::Point> crossingLine { { 132, 60 }, { 132, 180 } };

// Every file below `dir` with its bytes.
std::map<QString, QByteArray> snapshot(const QString &dir)
{
    std::map<QString, QByteArray> files;
    QDirIterator it(dir, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files[path] = QFileInfo(path).isDir() ? QByteArray("<dir>") : testfiles::read(path);
    }
    return files;
}

AreaContour loadZones(const QString &video)
{
    AreaContour zones;
    zones.loadArea(video);
    zones.loadMask(video);
    return zones;
}

struct VideoOutcome
{
    QString video;
    QVector<Result> events;
    int frames = 0;
};

// The batch program's loop; `grey` converts the frames before handing them.
std::vector<VideoOutcome> runAll(ProcessRun &run, bool grey = false)
{
    std::vector<VideoOutcome> outcomes;
    cv::VideoCapture capture;
    while (run.hasNext()) {
        if (!run.openNext(capture))
            continue;
        VideoOutcome outcome;
        outcome.video = run.video();
        cv::Mat frame;
        cv::Mat converted;
        while (capture.read(frame)) {
            if (grey) {
                cv::cvtColor(frame, converted, cv::COLOR_BGR2GRAY);
                outcome.events += run.processGrey(converted);
            } else {
                outcome.events += run.processFrame(frame);
            }
        }
        outcome.frames = run.framesProcessed();
        run.finishVideo();
        outcomes.push_back(outcome);
    }
    return outcomes;
}

QString recordLine(const Result &r)
{
    return QStringLiteral("%1;%2;%3;%4;%5;%6\n")
        .arg(ResultFile::formatFrame(r.frame))
        .arg(r.x)
        .arg(r.y)
        .arg(r.in)
        .arg(r.out)
        .arg(r.timestamp);
}

} // namespace

class TestProcessRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void queueFor_data();
    void queueFor();

    void lineCrossingGivesOneEvent();
    void boxEntryGivesOneIn();
    void tracksCarryOverToTheNextVideo();
    void startResetsTheEngine();
    void startsAtFrame90();
    void countFileStartsAfresh();
    void unusableVideoIsSkippedUntouched_data();
    void unusableVideoIsSkippedUntouched();
    void greyFramesGiveTheSameFiles();
    void takesOverAnOpenedVideo();
    void checksAHandedFrame_data();
    void checksAHandedFrame();
    void cancelStopsWithoutSaving();
    void wholeFramesPerSecond_data();
    void wholeFramesPerSecond();
    void failedRecordStopsTheVideo();
    void secondRunOfAVideoIsSkipped();
    void interruptedCommitIsCompleted();

private:
    QTemporaryDir dir;
    QString crossing; // 140 frames of rightwards()
};

void TestProcessRun::initTestCase()
{
    QVERIFY(dir.isValid());
    crossing = dir.filePath(QStringLiteral("source/crossing.mp4"));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("source"))));
    QVERIFY(insectscene::write(crossing, 140, insectscene::rightwards));
}

void TestProcessRun::init()
{
    QDir work(dir.filePath(QStringLiteral("work")));
    QVERIFY(work.removeRecursively());
    QVERIFY(QDir().mkpath(work.path()));
}

void TestProcessRun::queueFor_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("videos");
    QTest::addColumn<QStringList>("done");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QStringList>("expected");

    const QStringList three { "c.mp4", "a.mp4", "b.mp4" };
    QTest::newRow("unprocessed: N, Y, N")
        << int(ProcessRun::Unprocessed) << three << QStringList { "a.mp4" } << "a.mp4"
        << QStringList { "c.mp4", "b.mp4" };
    QTest::newRow("unprocessed: none left")
        << int(ProcessRun::Unprocessed) << three << three << "a.mp4" << QStringList {};
    QTest::newRow("unprocessed: listing order kept")
        << int(ProcessRun::Unprocessed) << three << QStringList {} << "a.mp4" << three;
    QTest::newRow("one: the current video, processed or not")
        << int(ProcessRun::One) << three << QStringList { "a.mp4" } << "a.mp4"
        << QStringList { "a.mp4" };
    QTest::newRow("all: every video in listing order")
        << int(ProcessRun::All) << three << QStringList { "a.mp4", "b.mp4" } << "b.mp4" << three;
    QTest::newRow("unprocessed: a count file that is a device")
        << int(ProcessRun::Unprocessed) << three << QStringList { "@b.mp4" } << "a.mp4" << three;
}

void TestProcessRun::queueFor()
{
    QFETCH(int, mode);
    QFETCH(QStringList, videos);
    QFETCH(QStringList, done);
    QFETCH(QString, current);
    QFETCH(QStringList, expected);

    const QString work = dir.filePath(QStringLiteral("work/"));
    QStringList paths;
    for (const QString &name : videos)
        paths << work + name;
    for (const QString &name : done) {
        // "@name": its count file is a link to a device.
        if (name.startsWith(QLatin1Char('@')))
            QVERIFY(QDir().mkpath(VideoFiles::exportDir(work + name.mid(1)))
                && QFile::link(
                    QStringLiteral("/dev/null"), VideoFiles::resultFile(work + name.mid(1))));
        else
            QVERIFY(testfiles::write(VideoFiles::resultFile(work + name), header));
    }
    QStringList expectedPaths;
    for (const QString &name : expected)
        expectedPaths << work + name;

    QCOMPARE(ProcessRun::queueFor(static_cast<ProcessRun::Mode>(mode), work + current, paths),
        expectedPaths);
}

void TestProcessRun::lineCrossingGivesOneEvent()
{
    const QString video = dir.filePath(QStringLiteral("work/video_20160512_1000_01.mp4"));
    QVERIFY(QFile::copy(crossing, video));
    GroundTruthScene::saveBoxes(video, crossingLine, insectscene::wholeFrame());

    MessageLog log;
    ProcessRun run;
    run.start(loadZones(video), insectscene::kSize, { video });
    const std::vector<VideoOutcome> outcomes = runAll(run);

    QCOMPARE(outcomes.size(), size_t(1));
    const QVector<Result> &events = outcomes[0].events;
    QCOMPARE(events.size(), 1);
    // Frame 115 is processed with the index 114 handed on.
    QCOMPARE(events[0].frame, 114.0);
    QVERIFY2(qAbs(events[0].x - 136) <= 3, qPrintable(QString::number(events[0].x)));
    QVERIFY2(qAbs(events[0].y - 120) <= 2, qPrintable(QString::number(events[0].y)));
    QCOMPARE(events[0].in, 1);
    QCOMPARE(events[0].out, 1);
    QCOMPARE(events[0].timestamp, QStringLiteral("2016-05-12_10:00:01"));
    QCOMPARE(
        testfiles::read(VideoFiles::resultFile(video)), header + recordLine(events[0]).toUtf8());

    // Frames 91 to 139, handed on as 90 to 138.
    QCOMPARE(outcomes[0].frames, 49);
    QCOMPARE(run.position(), 139.0);
    QCOMPARE(run.inCount(), 1);
    QCOMPARE(run.outCount(), 1);
    const QStringList frameLines
        = log.texts(QtDebugMsg).filter(QRegularExpression(QStringLiteral("^Frame = ")));
    QCOMPARE(frameLines.size(), 49);
    QCOMPARE(frameLines.first(), QStringLiteral("Frame = 90"));
    QCOMPARE(frameLines.last(), QStringLiteral("Frame = 138"));

    // The tracks made it into the trajectory image and its density.
    const QByteArray density = testfiles::read(VideoFiles::densityFile(video));
    QVERIFY2(density.startsWith("Density: 0.") && density != "Density: 0.0000", density);
    const cv::Mat image
        = cv::imread(QFile::encodeName(VideoFiles::trajectoryImageFile(video)).toStdString());
    QCOMPARE(image.size(), insectscene::kSize);
}

void TestProcessRun::boxEntryGivesOneIn()
{
    const QString video = dir.filePath(QStringLiteral("work/box.mp4"));
    QVERIFY(QFile::copy(crossing, video));
    // The disc flies into the box through its left edge and stops inside.
    GroundTruthScene::saveBoxes(
        video, { { 200, 60 }, { 300, 60 }, { 300, 180 }, { 200, 180 } }, insectscene::wholeFrame());

    ProcessRun run;
    run.start(loadZones(video), insectscene::kSize, { video });
    const std::vector<VideoOutcome> outcomes = runAll(run);

    QCOMPARE(outcomes.size(), size_t(1));
    const QVector<Result> &events = outcomes[0].events;
    QCOMPARE(events.size(), 1);
    QCOMPARE(events[0].in, 1);
    QCOMPARE(events[0].out, 0);
    QVERIFY2(events[0].x > 180 && events[0].x <= 200, qPrintable(QString::number(events[0].x)));
    QCOMPARE(
        testfiles::read(VideoFiles::resultFile(video)), header + recordLine(events[0]).toUtf8());
}

void TestProcessRun::tracksCarryOverToTheNextVideo()
{
    // The second recording goes on where the first stops: the disc is at
    // x = 172 in the last frame of the first and at 180 in frame 91 of the
    // second. The line at 172 lies between the centroids of the first's last
    // step (168) and of the step into the second (176), so only that step,
    // across the two videos, crosses it.
    const QString first = dir.filePath(QStringLiteral("work/first.mp4"));
    const QString second = dir.filePath(QStringLiteral("work/second.mp4"));
    QVERIFY(insectscene::write(first, 120, insectscene::rightwards));
    QVERIFY(insectscene::write(second, 120,
        [](int index) { return cv::Point(180 + 8 * std::clamp(index - 91, -1, 10), 120); }));
    const std::vector<cv::Point> line { { 172, 60 }, { 172, 180 } };
    GroundTruthScene::saveBoxes(first, line, insectscene::wholeFrame());

    ProcessRun run;
    run.start(loadZones(first), insectscene::kSize, { first, second });
    const std::vector<VideoOutcome> outcomes = runAll(run);
    QCOMPARE(outcomes.size(), size_t(2));
    QCOMPARE(outcomes[0].events.size(), 0);
    QCOMPARE(outcomes[1].events.size(), 1);
    QCOMPARE(outcomes[1].events[0].frame, 90.0);
    QCOMPARE(testfiles::read(VideoFiles::resultFile(first)), header);
    QCOMPARE(testfiles::read(VideoFiles::resultFile(second)),
        header + recordLine(outcomes[1].events[0]).toUtf8());

    // Alone, the second video starts without a track: nothing crosses.
    ProcessRun alone;
    alone.start(loadZones(first), insectscene::kSize, { second });
    const std::vector<VideoOutcome> again = runAll(alone);
    QCOMPARE(again.size(), size_t(1));
    QCOMPARE(again[0].events.size(), 0);
}

void TestProcessRun::startResetsTheEngine()
{
    // Cut while the disc still moves: its track is alive at the end. The
    // name fixes the time stamps.
    const QString video = dir.filePath(QStringLiteral("work/video_20160512_1000_01.mp4"));
    QVERIFY(insectscene::write(video, 120, insectscene::rightwards));
    GroundTruthScene::saveBoxes(video, crossingLine, insectscene::wholeFrame());

    ProcessRun run;
    run.start(loadZones(video), insectscene::kSize, { video });
    runAll(run);
    QVERIFY(!run.tracked().empty());
    run.start(loadZones(video), insectscene::kSize, { video });
    QVERIFY(run.tracked().empty());
    // A second run over the same video gives the same counts.
    const QByteArray counts = testfiles::read(VideoFiles::resultFile(video));
    runAll(run);
    QCOMPARE(testfiles::read(VideoFiles::resultFile(video)), counts);
}

void TestProcessRun::startsAtFrame90()
{
    const QString video = dir.filePath(QStringLiteral("work/video_20160512_1000_01.mp4"));
    const cv::Mat background = testvideo::background(insectscene::kSize);
    QVERIFY(testvideo::write(
        video, "avc1", 25, insectscene::kSize, 100, [&background](int index, cv::Mat &frame) {
            background.copyTo(frame);
            testvideo::paintIndex(frame, index);
            // Again lower down, clear of the density banner.
            cv::Mat band = frame(cv::Rect(0, 100, 320, 16));
            testvideo::paintIndex(band, index);
        }));
    GroundTruthScene::saveBoxes(video, crossingLine, insectscene::wholeFrame());

    ProcessRun run;
    run.start(loadZones(video), insectscene::kSize, { video });
    cv::VideoCapture capture;
    QVERIFY(run.openNext(capture));
    QVERIFY(run.videoOpen());
    QCOMPARE(run.video(), video);
    QCOMPARE(testvideo::readIndex(run.startFrame()), 90);
    QCOMPARE(run.position(), 90.0);
    QCOMPARE(run.fps(), 25.0);
    QCOMPARE(run.startTime(), QDateTime(QDate(2016, 5, 12), QTime(10, 0)));
    cv::Mat frame;
    QVERIFY(capture.read(frame));
    QCOMPARE(testvideo::readIndex(frame), 91);
    run.processFrame(frame);
    QCOMPARE(run.position(), 91.0);

    // The trajectory image starts from frame 90.
    const cv::Mat trajectory = run.trajectoryImage();
    QCOMPARE(testvideo::readIndex(trajectory(cv::Rect(0, 100, 320, 16))), 90);
}

void TestProcessRun::countFileStartsAfresh()
{
    const QString video = dir.filePath(QStringLiteral("work/again.mp4"));
    QVERIFY(QFile::copy(crossing, video));
    GroundTruthScene::saveBoxes(video, {}, insectscene::wholeFrame());
    const QByteArray earlier = header + "1;2;3;1;0;old\n4;5;6;0;1;old\n";
    QVERIFY(testfiles::write(VideoFiles::resultFile(video), earlier));
    // Left by a killed run: replaced, not appended to.
    QVERIFY(testfiles::write(VideoFiles::partialResultFile(video), header + "7;8;9;1;0;killed\n"));

    ProcessRun run;
    run.start(loadZones(video), insectscene::kSize, { video });
    cv::VideoCapture capture;
    QVERIFY(run.openNext(capture));
    QCOMPARE(run.countFile(), VideoFiles::partialResultFile(video));
    QCOMPARE(testfiles::read(VideoFiles::partialResultFile(video)), header);
    // The earlier complete counts stay until the video is complete.
    QCOMPARE(testfiles::read(VideoFiles::resultFile(video)), earlier);
    cv::Mat frame;
    while (capture.read(frame))
        run.processFrame(frame);
    QVERIFY(run.finishVideo());
    QCOMPARE(testfiles::read(VideoFiles::resultFile(video)), header);
    QVERIFY(!QFile::exists(VideoFiles::partialResultFile(video)));
}

void TestProcessRun::unusableVideoIsSkippedUntouched_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing") << "missing"
                             << "cannot be opened";
    QTest::newRow("not a video") << "text"
                                 << "cannot be opened";
    QTest::newRow("60 frames") << "short"
                               << "has no frame 90";
    QTest::newRow("other frame size") << "small"
                                      << "its frames are 160x120, the run's are 320x240";
}

void TestProcessRun::unusableVideoIsSkippedUntouched()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);

    const QString bad = dir.filePath(QStringLiteral("work/bad.mp4"));
    const QString good = dir.filePath(QStringLiteral("work/good.mp4"));
    QVERIFY(QFile::copy(crossing, good));
    GroundTruthScene::saveBoxes(good, crossingLine, insectscene::wholeFrame());
    if (kind == QLatin1String("text")) {
        QVERIFY(testfiles::write(bad, "not a video\n"));
    } else if (kind == QLatin1String("short")) {
        QVERIFY(insectscene::write(bad, 60, insectscene::rightwards));
    } else if (kind == QLatin1String("small")) {
        QVERIFY(insectscene::write(
            bad, 100, [](int) { return cv::Point(50, 50); }, 90, cv::Size(160, 120)));
    }
    if (kind != QLatin1String("missing")) {
        // Counts and images of an earlier run must survive.
        QVERIFY(testfiles::write(VideoFiles::resultFile(bad), header + "1;2;3;1;0;earlier\n"));
        QVERIFY(testfiles::write(VideoFiles::trajectoryImageFile(bad), "earlier image"));
        QVERIFY(testfiles::write(VideoFiles::densityFile(bad), "Density: 0.1000"));
    }

    ProcessRun run;
    run.start(loadZones(good), insectscene::kSize, { bad, good });
    const std::map<QString, QByteArray> before = snapshot(dir.filePath(QStringLiteral("work")));
    cv::VideoCapture capture;
    QVERIFY(!run.openNext(capture));
    QVERIFY(!run.videoOpen());
    QVERIFY(!capture.isOpened());
    QVERIFY2(run.skipReason().contains(reason), qPrintable(run.skipReason()));
    QCOMPARE(run.video(), bad);
    // Nothing is processed or saved for it.
    QVERIFY(run.processFrame(cv::Mat(insectscene::kSize, CV_8UC3, cv::Scalar::all(0))).isEmpty());
    run.finishVideo();
    QVERIFY(snapshot(dir.filePath(QStringLiteral("work"))) == before);

    // The run goes on with the next video.
    QVERIFY(run.openNext(capture));
    QCOMPARE(run.video(), good);
    QVERIFY(!run.hasNext());
}

void TestProcessRun::greyFramesGiveTheSameFiles()
{
    const QString video = dir.filePath(QStringLiteral("work/video_20160512_1000_01.mp4"));
    QVERIFY(QFile::copy(crossing, video));
    GroundTruthScene::saveBoxes(
        video, { { 200, 60 }, { 300, 60 }, { 300, 180 }, { 200, 180 } }, insectscene::wholeFrame());
    const QStringList outputs { VideoFiles::resultFile(video),
        VideoFiles::trajectoryImageFile(video), VideoFiles::densityFile(video) };

    ProcessRun run;
    run.start(loadZones(video), insectscene::kSize, { video });
    runAll(run, false);
    QByteArrayList fromColour;
    for (const QString &file : outputs)
        fromColour << testfiles::read(file);

    run.start(loadZones(video), insectscene::kSize, { video });
    runAll(run, true);
    for (int i = 0; i < outputs.size(); ++i)
        QCOMPARE(testfiles::read(outputs[i]), fromColour[i]);
    QVERIFY(fromColour[0].size() > header.size());
}

void TestProcessRun::takesOverAnOpenedVideo()
{
    const QString video = dir.filePath(QStringLiteral("work/video_20160512_1000_01.mp4"));
    QVERIFY(QFile::copy(crossing, video));
    GroundTruthScene::saveBoxes(video, crossingLine, insectscene::wholeFrame());
    const QStringList outputs { VideoFiles::resultFile(video),
        VideoFiles::trajectoryImageFile(video), VideoFiles::densityFile(video) };

    ProcessRun run;
    run.start(loadZones(video), insectscene::kSize, { video });
    runAll(run);
    QByteArrayList opened;
    for (const QString &file : outputs)
        opened << testfiles::read(file);

    // Opened and checked by the caller before the run, then handed over.
    cv::VideoCapture capture;
    cv::Mat frame90;
    QCOMPARE(ProcessRun::openAtStart(capture, video, frame90), QString());
    run.start(loadZones(video), frame90.size(), { video });
    QVERIFY(run.openNext(capture, frame90));
    frame90.setTo(cv::Scalar::all(0)); // the run keeps its own copy
    cv::Mat frame;
    while (capture.read(frame))
        run.processFrame(frame);
    run.finishVideo();
    for (int i = 0; i < outputs.size(); ++i)
        QCOMPARE(testfiles::read(outputs[i]), opened[i]);
    QCOMPARE(opened[0].count('\n'), 2);
}

void TestProcessRun::checksAHandedFrame_data()
{
    QTest::addColumn<cv::Mat>("frame");
    QTest::addColumn<QString>("reason");

    QTest::newRow("empty") << cv::Mat() << "it has no frame 90";
    QTest::newRow("grey") << cv::Mat(insectscene::kSize, CV_8UC1, cv::Scalar(0))
                          << "its frames are not 8-bit colour";
    QTest::newRow("other size") << cv::Mat(cv::Size(640, 480), CV_8UC3, cv::Scalar::all(0))
                                << "its frames are 640x480, the run's are 320x240";
}

void TestProcessRun::checksAHandedFrame()
{
    QFETCH(cv::Mat, frame);
    QFETCH(QString, reason);

    const QString video = dir.filePath(QStringLiteral("work/handed.mp4"));
    QVERIFY(QFile::copy(crossing, video));
    GroundTruthScene::saveBoxes(video, crossingLine, insectscene::wholeFrame());
    ProcessRun run;
    run.start(loadZones(video), insectscene::kSize, { video });
    const std::map<QString, QByteArray> before = snapshot(dir.filePath(QStringLiteral("work")));
    cv::VideoCapture capture;
    QVERIFY(!run.openNext(capture, frame));
    QCOMPARE(run.skipReason(), reason);
    QVERIFY(snapshot(dir.filePath(QStringLiteral("work"))) == before);
}

void TestProcessRun::cancelStopsWithoutSaving()
{
    const QString video = dir.filePath(QStringLiteral("work/cancelled.mp4"));
    QVERIFY(QFile::copy(crossing, video));
    GroundTruthScene::saveBoxes(video, crossingLine, insectscene::wholeFrame());

    ProcessRun run;
    run.start(loadZones(video), insectscene::kSize, { video, video });
    cv::VideoCapture capture;
    QVERIFY(run.openNext(capture));
    cv::Mat frame;
    for (int i = 0; i < 5 && capture.read(frame); ++i)
        run.processFrame(frame);
    run.cancel();
    QVERIFY(!run.hasNext());
    QVERIFY(!run.videoOpen());
    QVERIFY(capture.read(frame));
    QVERIFY(run.processFrame(frame).isEmpty());
    QCOMPARE(run.position(), 95.0);
    QVERIFY(!run.finishVideo());
    QVERIFY(!QFile::exists(VideoFiles::trajectoryImageFile(video)));
    QVERIFY(!QFile::exists(VideoFiles::densityFile(video)));
    // Nothing marks the video as done; its counts so far are kept apart.
    QVERIFY(!QFile::exists(VideoFiles::resultFile(video)));
    QCOMPARE(testfiles::read(VideoFiles::partialResultFile(video)), header);
    QCOMPARE(
        ProcessRun::queueFor(ProcessRun::Unprocessed, video, { video }), QStringList { video });
}

void TestProcessRun::wholeFramesPerSecond_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("whole");
    QTest::addColumn<QString>("stampOfFrame2900"); // from 10:00:00

    QTest::newRow("90") << 90.0 << 90 << "2016-05-12_10:00:32";
    // Cut, not rounded: the stamps of NTSC rates run ahead of the clock.
    QTest::newRow("30000/1001 cut to 29") << 30000.0 / 1001 << 29 << "2016-05-12_10:01:40";
    QTest::newRow("half a frame per second") << 0.5 << 0 << "2016-05-12_10:00:00";
    QTest::newRow("zero: the start time") << 0.0 << 0 << "2016-05-12_10:00:00";
    QTest::newRow("negative: the start time") << -25.0 << 0 << "2016-05-12_10:00:00";
    QTest::newRow("not a number: the start time")
        << std::numeric_limits<double>::quiet_NaN() << 0 << "2016-05-12_10:00:00";
    QTest::newRow("infinite: the start time")
        << std::numeric_limits<double>::infinity() << 0 << "2016-05-12_10:00:00";
    QTest::newRow("beyond int: the start time") << 1e10 << 0 << "2016-05-12_10:00:00";
}

void TestProcessRun::wholeFramesPerSecond()
{
    QFETCH(double, rate);
    QFETCH(int, whole);
    QFETCH(QString, stampOfFrame2900);
    QCOMPARE(ProcessRun::wholeFramesPerSecond(rate), whole);
    QCOMPARE(InsectDetect::eventTime(QDateTime(QDate(2016, 5, 12), QTime(10, 0)), 2900,
                 ProcessRun::wholeFramesPerSecond(rate)),
        stampOfFrame2900);
}

void TestProcessRun::failedRecordStopsTheVideo()
{
    const QString video = dir.filePath(QStringLiteral("work/video_20160512_1000_01.mp4"));
    QVERIFY(QFile::copy(crossing, video));
    GroundTruthScene::saveBoxes(video, crossingLine, insectscene::wholeFrame());
    QVERIFY(testfiles::write(VideoFiles::resultFile(video), header + "1;2;3;1;0;earlier\n"));
    QVERIFY(testfiles::write(VideoFiles::trajectoryImageFile(video), "earlier image"));
    QVERIFY(testfiles::write(VideoFiles::densityFile(video), "Density: 0.1000"));
    const std::map<QString, QByteArray> before = snapshot(dir.filePath(QStringLiteral("work")));

    ProcessRun run;
    run.start(loadZones(video), insectscene::kSize, { video });
    cv::VideoCapture capture;
    QVERIFY(run.openNext(capture));
    // The count file is no longer the run's: a link to a device that is
    // always full took its place. No record may go there.
    const QString partial = VideoFiles::partialResultFile(video);
    QVERIFY(QFile::remove(partial));
    QVERIFY(QFile::link(QStringLiteral("/dev/full"), partial));

    MessageLog log;
    cv::Mat frame;
    int frames = 0;
    while (run.videoOpen() && capture.read(frame)) {
        run.processFrame(frame);
        ++frames;
    }
    // Stopped at the frame of the first event (frame 115), not at the end.
    QCOMPARE(frames, 115 - 90);
    QVERIFY(run.videoFailed());
    QVERIFY2(run.failure().contains(partial + " was removed or replaced during the run"),
        qPrintable(run.failure()));
    QVERIFY(!run.finishVideo());
    QVERIFY(run.failure().contains(partial));
    QFile::remove(partial);
    // Only the run record, saying the run was partial, is new.
    std::map<QString, QByteArray> after = snapshot(dir.filePath(QStringLiteral("work")));
    QVERIFY(after[VideoFiles::partialRunRecordFile(video)].contains("\"partial\""));
    after.erase(VideoFiles::partialRunRecordFile(video));
    after.erase(VideoFiles::partialDir(video));
    QVERIFY(after == before);
}

void TestProcessRun::secondRunOfAVideoIsSkipped()
{
    const QString video = dir.filePath(QStringLiteral("work/held.mp4"));
    QVERIFY(QFile::copy(crossing, video));
    GroundTruthScene::saveBoxes(video, crossingLine, insectscene::wholeFrame());
    ProcessRun first;
    first.start(loadZones(video), insectscene::kSize, { video });
    cv::VideoCapture capture;
    QVERIFY(first.openNext(capture));
    const std::map<QString, QByteArray> before = snapshot(dir.filePath(QStringLiteral("work")));

    // As the window would while a batch job works on the same video.
    ProcessRun second;
    second.start(loadZones(video), insectscene::kSize, { video });
    cv::VideoCapture other;
    MessageLog log;
    QVERIFY(!second.openNext(other));
    QVERIFY(!second.videoFailed());
    QCOMPARE(second.skipReason(),
        QStringLiteral("it is being processed by process %1 on host %2")
            .arg(QCoreApplication::applicationPid())
            .arg(QSysInfo::machineHostName()));
    QVERIFY(snapshot(dir.filePath(QStringLiteral("work"))) == before);

    // Free again once the first run lets go of it, cancelled or not.
    first.cancel();
    second.start(loadZones(video), insectscene::kSize, { video });
    QVERIFY(second.openNext(other));
}

void TestProcessRun::interruptedCommitIsCompleted()
{
    // A run killed after its first rename: the image is new, the rest wait.
    const QString folder = dir.filePath(QStringLiteral("journal"));
    const QString video = folder + QStringLiteral("/j.mp4");
    const QString exportDir = VideoFiles::exportDir(video);
    QVERIFY(testfiles::write(VideoFiles::trajectoryImageFile(video), "new image"));
    QVERIFY(testfiles::write(VideoFiles::densityFile(video) + ".tmp", "new density"));
    QVERIFY(testfiles::write(VideoFiles::densityFile(video), "old density"));
    QVERIFY(testfiles::write(VideoFiles::runRecordFile(video) + ".tmp", "new record"));
    QVERIFY(testfiles::write(VideoFiles::tracksFile(video), "old tracks"));
    QVERIFY(testfiles::write(VideoFiles::partialResultFile(video), header));
    QVERIFY(testfiles::write(VideoFiles::commitJournalFile(video),
        R"([["rename","j_doza.jpg.tmp","j_doza.jpg"],["rename","j_doza.txt.tmp","j_doza.txt"],)"
        R"(["rename","j_run.json.tmp","j_run.json"],["remove","j_tracks.csv"],)"
        R"(["remove","partial/j_run.json"],["rename","partial/j.csv","j.csv"]])"));

    const QStringList lines = OutputSet::recover(folder);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines[0].startsWith(QStringLiteral("completed the files of")), qPrintable(lines[0]));
    const std::map<QString, QByteArray> expected { { exportDir + "/j.csv", header },
        { exportDir + "/j_doza.jpg", "new image" }, { exportDir + "/j_doza.txt", "new density" },
        { exportDir + "/j_run.json", "new record" } };
    QVERIFY(snapshot(exportDir) == expected);
    QVERIFY(OutputSet::recover(folder).isEmpty()); // nothing left to do

    // A journal may name files of exportCSV only.
    const QString outside = dir.filePath(QStringLiteral("journal-outside"));
    QVERIFY(testfiles::write(outside, "not the run's"));
    QVERIFY(testfiles::write(
        VideoFiles::commitJournalFile(video), R"([["remove","../../journal-outside"]])"));
    const QStringList refused = OutputSet::recover(folder);
    QCOMPARE(refused.size(), 1);
    QVERIFY2(refused[0].contains(QStringLiteral("is damaged")), qPrintable(refused[0]));
    QCOMPARE(testfiles::read(outside), QByteArray("not the run's"));
}

QTEST_APPLESS_MAIN(TestProcessRun)
#include "test_processrun.moc"
