#include <algorithm>
#include <map>
#include <vector>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include "areacontour.h"
#include "batchoptions.h"
#include "batchprocess.h"
#include "countingmethod.h"
#include "eventmatcher.h"
#include "groundtruthscene.h"
#include "mvtdetector.h"
#include "processrun.h"
#include "resultfile.h"
#include "scenecatalog.h"
#include "targetpool.h"
#include "testfiles.h"
#include "videofiles.h"

namespace {

using Kind = CountingMethod::Kind;

const cv::Size kSize(640, 480);
const std::vector<cv::Point> kWholeFrame { { 10, 10 }, { 630, 10 }, { 630, 470 }, { 10, 470 } };
const std::vector<cv::Point> kVerticalLine { { 320, 40 }, { 320, 440 } };
const std::vector<cv::Point> kBox { { 240, 160 }, { 400, 160 }, { 400, 320 }, { 240, 320 } };

// Straight legs at `speed` px per frame; a leg to the same point holds
// still for `hold` frames.
struct Leg
{
    cv::Point2d to;
    double speed = 0;
    int hold = 0;
};

GroundTruthScene::Insect insect(int start, cv::Point2d from, const std::vector<Leg> &legs)
{
    GroundTruthScene::Insect i;
    i.start = start;
    i.radius = 6;
    i.level = 30;
    i.path.push_back(from);
    for (const Leg &leg : legs) {
        if (leg.hold > 0) {
            i.path.insert(i.path.end(), static_cast<size_t>(leg.hold), i.path.back());
            continue;
        }
        const cv::Point2d a = i.path.back();
        const int steps = static_cast<int>(std::ceil(cv::norm(leg.to - a) / leg.speed));
        for (int s = 1; s <= steps; ++s)
            i.path.push_back(a + (leg.to - a) * (static_cast<double>(s) / steps));
    }
    return i;
}

// The small scenes that break the classic method, by name.
GroundTruthScene smallScene(const QString &name)
{
    // "catalog SEED INDEX": a scene of the accuracy report.
    if (name.startsWith(QLatin1String("catalog "))) {
        const QStringList parts = name.split(QLatin1Char(' '));
        return SceneCatalog::scene(parts.value(2).toInt(), parts.value(1).toUInt());
    }
    GroundTruthScene scene(name, kSize, 25, 90 + 110, 11);
    scene.setTrackingBox(kWholeFrame);
    scene.setCountingBox(kVerticalLine);
    if (name == QLatin1String("line from the top row")) {
        // An end on row 0 is a point of the frame like any other.
        scene.setCountingBox({ { 320, 0 }, { 320, 479 } });
        scene.addInsect(insect(100, { 160, 240 }, { { { 480, 240 }, 8 } }));
    } else if (name == QLatin1String("close pass")) {
        // Opposite ways, 30 px apart: one blob while they pass.
        scene.addInsect(insect(100, { 160, 225 }, { { { 480, 225 }, 8 } }));
        scene.addInsect(insect(100, { 480, 255 }, { { { 160, 255 }, 8 } }));
    } else if (name == QLatin1String("slow close pass")) {
        // One blob for about half a second around the line.
        scene.addInsect(insect(100, { 200, 225 }, { { { 440, 225 }, 3 } }));
        scene.addInsect(insect(100, { 440, 255 }, { { { 200, 255 }, 3 } }));
    } else if (name == QLatin1String("side by side across the line")) {
        // 20 px apart, one blob for over a second, across the line and apart.
        scene.addInsect(insect(
            100, { 160, 150 }, { { { 260, 230 }, 4 }, { { 380, 230 }, 4 }, { { 480, 150 }, 4 } }));
        scene.addInsect(insect(
            100, { 160, 330 }, { { { 260, 250 }, 4 }, { { 380, 250 }, 4 }, { { 480, 330 }, 4 } }));
    } else if (name == QLatin1String("sits on the line as another passes")) {
        // The second passes just beside the first as it stops on the line.
        scene.addInsect(
            insect(100, { 200, 240 }, { { { 320, 240 }, 6 }, { {}, 0, 25 }, { { 440, 240 }, 6 } }));
        scene.addInsect(insect(103, { 440, 255 }, { { { 200, 255 }, 6 } }));
    } else if (name == QLatin1String("sits on the line a second")) {
        scene.addInsect(
            insect(100, { 200, 240 }, { { { 320, 240 }, 6 }, { {}, 0, 25 }, { { 440, 240 }, 6 } }));
    } else if (name == QLatin1String("stops on the line at speed")) {
        // Its last blob lies half a fast step short of where it sits, its
        // first one half a step beyond.
        scene.addInsect(insect(
            100, { 20, 240 }, { { { 320, 240 }, 30 }, { {}, 0, 30 }, { { 560, 240 }, 20 } }));
    } else if (name == QLatin1String("crosses under the mask")) {
        // A notch of the tracking box hides the line's upper part and the
        // 30 px before it: the insect, off from rest in there, shows first
        // past the line.
        scene.setTrackingBox({ { 10, 10 }, { 290, 10 }, { 290, 300 }, { 326, 300 }, { 326, 10 },
            { 630, 10 }, { 630, 470 }, { 10, 470 } });
        scene.addInsect(insect(100, { 300, 200 }, { { { 600, 200 }, 20 } }));
    } else if (name == QLatin1String("turns back where another crosses")) {
        // One flies down the line and turns back across it just as the
        // other, fainter, crosses there: their tracks swap insects.
        GroundTruthScene::Insect turning = insect(100, { 443, 299 },
            { { { 320, 168 }, 4.5 }, { { 320, 248 }, 3 }, { { 200, 125 }, 4.7 } });
        GroundTruthScene::Insect crossing = insect(138, { 200, 262 }, { { { 440, 215 }, 3.7 } });
        turning.radius = 9;
        crossing.radius = 6.6;
        scene.addInsect(turning);
        scene.addInsect(crossing);
    } else if (name == QLatin1String("along the line")) {
        scene.addInsect(insect(100, { 320, 60 }, { { { 320, 420 }, 6 } }));
    } else if (name == QLatin1String("missed detection on the line")) {
        // Two frames without motion, hence without a blob, as it crosses.
        scene.addInsect(
            insect(100, { 200, 240 }, { { { 318, 240 }, 8 }, { {}, 0, 2 }, { { 440, 240 }, 8 } }));
    } else if (name == QLatin1String("waits at the box, then goes in")) {
        scene.setCountingBox(kBox);
        scene.addInsect(
            insect(100, { 80, 240 }, { { { 232, 240 }, 7 }, { {}, 0, 20 }, { { 300, 240 }, 7 } }));
    } else if (name == QLatin1String("waits at the box two seconds, then goes in")) {
        scene.setCountingBox(kBox);
        scene.addInsect(
            insect(100, { 80, 240 }, { { { 232, 240 }, 7 }, { {}, 0, 50 }, { { 300, 240 }, 7 } }));
    } else if (name == QLatin1String("waits by the box, then flies off fast")) {
        // Its track, picked up as it moves off, still heads in; the next
        // blob, a fast step out, starts a track that leaves the frame at once.
        scene.setCountingBox(kBox);
        scene.addInsect(insect(
            100, { 320, 40 }, { { { 320, 140 }, 10 }, { {}, 0, 20 }, { { 320, -20 }, 25 } }));
    } else if (name == QLatin1String("goes in at speed")) {
        // Its last blob outside lies a step behind a prediction just inside;
        // another follows it in there 0.8 s later.
        scene.setCountingBox(kBox);
        scene.addInsect(insect(100, { 80, 240 }, { { { 300, 240 }, 18 } }));
        scene.addInsect(insect(120, { 80, 244 }, { { { 300, 244 }, 18 } }));
    } else if (name == QLatin1String("comes out as another passes")) {
        // The other one's blob takes in the first the second frame it shows.
        scene.setCountingBox(kBox);
        scene.addInsect(insect(100, { 380, 240 }, { { { 560, 240 }, 5 } }));
        scene.addInsect(insect(95, { 455, 190 }, { { { 455, 420 }, 4 } }));
    } else if (name == QLatin1String("comes out fast just after another")) {
        // The first one's blob takes in the second as it comes out.
        scene.setCountingBox(kBox);
        scene.addInsect(insect(100, { 375, 262 }, { { { 620, 258 }, 18 } }));
        scene.addInsect(insect(103, { 375, 240 }, { { { 600, 140 }, 23 } }));
    } else if (name == QLatin1String("goes in past one hovering at the border")) {
        // Their blobs meet: the first frames of the one going in look like
        // moving out.
        scene.setCountingBox(kBox);
        std::vector<Leg> hover;
        for (int k = 0; k < 200; ++k)
            hover.push_back({ { 316.0 + k % 3 - 1, 329.0 + (k / 3) % 3 - 1 }, 3 });
        GroundTruthScene::Insect hovering = insect(10, { 316, 329 }, hover);
        GroundTruthScene::Insect going = insect(100, { 333, 400 }, { { { 274, 219 }, 8.3 } });
        hovering.radius = going.radius = 5;
        scene.addInsect(hovering);
        scene.addInsect(going);
    } else if (name == QLatin1String("one goes in, another comes out there")) {
        // The second shows up where the first went in, 0.7 s later.
        scene.setCountingBox(kBox);
        scene.addInsect(insect(100, { 80, 240 }, { { { 300, 240 }, 6 } }));
        scene.addInsect(insect(140, { 270, 244 }, { { { 80, 244 }, 6 } }));
    } else if (name == QLatin1String("box cut by the tracking box")) {
        // The box's right part lies outside the tracking box; its slanted
        // top edge counts up to there.
        scene.setTrackingBox({ { 10, 10 }, { 360, 10 }, { 360, 470 }, { 10, 470 } });
        scene.setCountingBox({ { 240, 160 }, { 400, 150 }, { 400, 320 }, { 240, 320 } });
        scene.addInsect(insect(100, { 353, 40 }, { { { 353, 260 }, 6 } }));
    }
    return scene;
}

QVector<Result> readCounts(const QString &video)
{
    QVector<Result> events;
    ResultFile file;
    if (file.open(video, ResultFile::Read) != 1)
        return events;
    Result r;
    while (file.readRecord(r.frame, r.x, r.y, r.in, r.out, r.timestamp) == 1)
        events.append(r);
    file.close();
    return events;
}

// Processes `video` as the window does, with `kind`; false when it cannot.
bool process(ProcessRun &run, const QString &video, Kind kind)
{
    AreaContour zones;
    zones.loadArea(video);
    zones.loadMask(video);
    run.setCounting(kind);
    run.start(zones, kSize, { video });
    cv::VideoCapture capture;
    if (!run.openNext(capture))
        return false;
    cv::Mat frame;
    while (capture.read(frame))
        run.processFrame(frame);
    run.finishVideo();
    return true;
}

// A scene's video decoded once, so that both methods count the same frames
// without decoding them twice.
struct DecodedVideo
{
    cv::VideoCapture capture; // read to its end; its rate and frame count still answer
    cv::Mat frame90;
    std::vector<cv::Mat> frames; // from frame 91 on
};

bool decode(const QString &video, DecodedVideo &decoded)
{
    if (!ProcessRun::openAtStart(decoded.capture, video, decoded.frame90).isEmpty())
        return false;
    cv::Mat frame;
    while (decoded.capture.read(frame))
        decoded.frames.push_back(frame.clone());
    return true;
}

// As process(), on frames decoded before.
bool process(ProcessRun &run, const QString &video, Kind kind, DecodedVideo &decoded)
{
    AreaContour zones;
    zones.loadArea(video);
    zones.loadMask(video);
    run.setCounting(kind);
    run.start(zones, kSize, { video });
    if (!run.openNext(decoded.capture, decoded.frame90))
        return false;
    for (const cv::Mat &frame : decoded.frames)
        run.processFrame(frame);
    run.finishVideo();
    return true;
}

using testfiles::exports;

using Outcome = BatchProcess::Outcome;

Outcome runBatch(const QStringList &arguments)
{
    return BatchProcess::run(QStringLiteral(KESTRIN_BATCH), arguments);
}

} // namespace

class TestCountingMethods : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void names_data();
    void names();
    void countingOption_data();
    void countingOption();

    void blobsAreTheirMovingPixelsGrown_data();
    void blobsAreTheirMovingPixelsGrown();
    void robustHoldsWhereClassicFails_data();
    void robustHoldsWhereClassicFails();
    void robustFindsInACrowd_data();
    void robustFindsInACrowd();
    void methodsTakeTurnsInOneProcess();
    void classicIsTheDefaultByteForByte();
    void jobsRunTheChosenMethod();

private:
    // A small scene written as a video with its boxes; empty on failure.
    QString writeScene(const GroundTruthScene &scene, const QString &folder);

    QTemporaryDir dir;
};

void TestCountingMethods::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY2(QFileInfo(QStringLiteral(KESTRIN_BATCH)).isExecutable(), KESTRIN_BATCH);
}

QString TestCountingMethods::writeScene(const GroundTruthScene &scene, const QString &folder)
{
    const QString path = dir.filePath(folder);
    if (!QDir().mkpath(path))
        return QString();
    const QString video = path + QStringLiteral("/video_20240611_1200_01.avi");
    return scene.write(video, "MJPG") ? video : QString();
}

void TestCountingMethods::names_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("known");
    QTest::addColumn<int>("kind");
    QTest::newRow("classic") << "classic" << true << int(CountingMethod::Classic);
    QTest::newRow("robust") << "robust" << true << int(CountingMethod::Robust);
    QTest::newRow("letter case counts") << "Robust" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
}

void TestCountingMethods::names()
{
    QFETCH(QString, name);
    QFETCH(bool, known);
    QFETCH(int, kind);
    Kind parsed = CountingMethod::Classic;
    QCOMPARE(CountingMethod::kindFromName(name, &parsed), known);
    if (!known)
        return;
    QCOMPARE(int(parsed), kind);
    QCOMPARE(CountingMethod::kindName(parsed), name);
    const std::unique_ptr<CountingMethod> method = CountingMethod::create(parsed);
    QCOMPARE(method->name(), name);
    // Run records describe the method by its parameters.
    QVERIFY(!method->parameters().isEmpty());
}

void TestCountingMethods::countingOption_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("kind");
    QTest::newRow("default") << QStringList { "v.mp4" } << true << int(CountingMethod::Classic);
    QTest::newRow("classic") << QStringList { "--counting", "classic", "v.mp4" } << true
                             << int(CountingMethod::Classic);
    QTest::newRow("robust, = form")
        << QStringList { "--counting=robust", "v.mp4" } << true << int(CountingMethod::Robust);
    QTest::newRow("with jobs") << QStringList { "--jobs", "2", "--counting", "robust", "v.mp4" }
                               << true << int(CountingMethod::Robust);
    QTest::newRow("unknown method") << QStringList { "--counting", "best", "v.mp4" } << false << 0;
    QTest::newRow("no value") << QStringList { "v.mp4", "--counting" } << false << 0;
}

void TestCountingMethods::countingOption()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, valid);
    QFETCH(int, kind);
    const BatchOptions options
        = BatchOptions::parse(QStringList { QStringLiteral("kestrin-batch") } + arguments);
    if (!valid) {
        QCOMPARE(options.action, BatchOptions::Action::UsageError);
        QVERIFY(options.text.contains(QLatin1String("Usage: kestrin-batch")));
        return;
    }
    QCOMPARE(options.action, BatchOptions::Action::Run);
    QCOMPARE(int(options.counting), kind);
}

// Robust splits a shared blob on the detector's moving pixels and takes a
// part's box centre for the insect's centroid: that holds only while every
// blob is its moving pixels' box grown by 15 px, clipped to the frame.
void TestCountingMethods::blobsAreTheirMovingPixelsGrown_data()
{
    QTest::addColumn<QVector<QPoint>>("squares");
    QTest::addColumn<int>("blobs");
    QTest::newRow("one insect") << QVector<QPoint> { { 300, 200 } } << 1;
    QTest::newRow("two close: one blob") << QVector<QPoint> { { 300, 200 }, { 330, 215 } } << 1;
    QTest::newRow("two apart") << QVector<QPoint> { { 100, 100 }, { 400, 300 } } << 2;
    QTest::newRow("at the frame's edge") << QVector<QPoint> { { 3, 200 } } << 1;
}

void TestCountingMethods::blobsAreTheirMovingPixelsGrown()
{
    QFETCH(QVector<QPoint>, squares);
    QFETCH(int, blobs);
    TargetPool::instance().resize(100);
    MvtDetector detector;
    detector.set_mask(cv::Mat());
    QVERIFY(detector.movement().empty());

    // 10 px squares moving 4 px right and 3 down: a lobe where each was and
    // one where it is.
    const cv::Mat before(kSize, CV_8UC1, cv::Scalar(120));
    cv::Mat after = before.clone();
    cv::Mat first = before.clone();
    for (const QPoint &square : squares) {
        const cv::Point at(square.x(), square.y());
        cv::rectangle(first, cv::Rect(at, cv::Size(10, 10)), cv::Scalar(40), cv::FILLED);
        cv::rectangle(
            after, cv::Rect(at + cv::Point(4, 3), cv::Size(10, 10)), cv::Scalar(40), cv::FILLED);
    }
    TargetList found;
    detector.detectabsdiff(first, found);
    QVERIFY(found.empty());
    detector.detectabsdiff(after, found);
    const cv::Mat &moved = detector.movement();
    QCOMPARE(moved.size(), kSize);
    QCOMPARE(int(found.size()), blobs);
    const cv::Rect frame(cv::Point(), kSize);
    for (const Target *t : found) {
        const cv::Rect box(t->origine, cv::Size(t->width, t->height));
        std::vector<cv::Point> pixels;
        cv::findNonZero(moved(box), pixels);
        QVERIFY(!pixels.empty());
        const cv::Rect core = cv::boundingRect(pixels) + box.tl();
        const cv::Rect grown(core.x - 15, core.y - 15, core.width + 30, core.height + 30);
        QCOMPARE(box, grown & frame);
        if (box == grown)
            QCOMPARE(t->centroid, cv::Point(core.x + core.width / 2, core.y + core.height / 2));
    }
    for (Target *t : found)
        TargetPool::instance().release(t);
    TargetPool::destroy();
}

void TestCountingMethods::robustHoldsWhereClassicFails_data()
{
    QTest::addColumn<QString>("scene");
    QTest::addColumn<bool>("classicFails");
    QTest::newRow("a line from the top row: one count") << "line from the top row" << false;
    QTest::newRow("two insects passing close: no swap, no extra") << "close pass" << true;
    QTest::newRow("two insects passing close and slowly: one count each")
        << "slow close pass" << true;
    QTest::newRow("two insects side by side across the line: one count each")
        << "side by side across the line" << true;
    QTest::newRow("one goes in, another comes out there: one entry, one exit")
        << "one goes in, another comes out there" << true;
    // Classic has no prediction to be misled by.
    QTest::newRow("two go in at speed, one after the other: one entry each, in time")
        << "goes in at speed" << false;
    QTest::newRow("comes out as another passes: one exit") << "comes out as another passes" << true;
    QTest::newRow("comes out fast just after another: one exit each")
        << "comes out fast just after another" << true;
    QTest::newRow("goes in past one hovering at the border: one entry")
        << "goes in past one hovering at the border" << true;
    QTest::newRow("a crowded line, paths crossing on it, at 90 fps: no extra crossing")
        << "catalog 41 22" << true;
    QTest::newRow("paths crossing on the line as a third crosses: one count each")
        << "catalog 61 8" << true;
    QTest::newRow("two sit on one spot of the line, then go their ways: one count each")
        << "catalog 5 12" << true;
    QTest::newRow("sits on the line past its track's last blob, then goes on: one count")
        << "catalog 31 4" << true;
    QTest::newRow("hovers on the line as another passes, at 90 fps: one count")
        << "catalog 17 14" << true;
    QTest::newRow("hovers on the line, its blob jumping over, then leaves: one count")
        << "catalog 13 2" << true;
    QTest::newRow("hovers at the border, its blob jumping in, then goes in: one entry")
        << "catalog 13 23" << true;
    QTest::newRow("waits at the border, then flies off out of the frame: no entry")
        << "catalog 13 1" << true;
    QTest::newRow("waits by the box, then flies off fast out of the frame: nothing")
        << "waits by the box, then flies off fast" << true;
    QTest::newRow("two wait at one spot of the border, then go in in turn: one entry each")
        << "catalog 13 17" << true;
    QTest::newRow("goes in as another comes out there at once: one entry, one exit")
        << "catalog 17 5" << true;
    QTest::newRow("into a box cut by the tracking box: one entry")
        << "box cut by the tracking box" << true;
    QTest::newRow("sits on the line as another passes: one count each")
        << "sits on the line as another passes" << true;
    QTest::newRow("sits on the line a second, then crosses: one count")
        << "sits on the line a second" << true;
    QTest::newRow("sits on the line, then darts off across it: one count")
        << "catalog 17 24" << true;
    QTest::newRow("sits on the line, then darts off as another passes, at 90 fps: one count")
        << "catalog 101 30" << true;
    QTest::newRow("hovers on the line, its track pulled off by another, then crosses: one count")
        << "catalog 61 18" << true;
    QTest::newRow("crosses fast and faint, with no blob of its own there: one count")
        << "catalog 47 0" << true;
    QTest::newRow("crosses inside another's blob, then shows past the line: one count")
        << "catalog 29 20" << true;
    QTest::newRow("passes close to another, with no blob of its own at the line: one count each")
        << "catalog 7 24" << true;
    QTest::newRow("one crosses unseen in a blob with another, which darts off: one count each")
        << "catalog 131 16" << true;
    QTest::newRow("crosses under a notch of the tracking box: one count")
        << "crosses under the mask" << true;
    QTest::newRow("stops on the line at speed, then goes on: one count")
        << "stops on the line at speed" << true;
    QTest::newRow("lands on the line at speed, seen twice on the way, then crosses: one count")
        << "catalog 131 28" << true;
    QTest::newRow("turns back across the line where another crosses it: one count each")
        << "turns back where another crosses" << true;
    QTest::newRow("flies along the line: none") << "along the line" << true;
    QTest::newRow("flies along the line, then slips off it: one count, in time")
        << "catalog 29 8" << true;
    // Classic bridges a short gap as well.
    QTest::newRow("a missed detection mid-crossing: still one")
        << "missed detection on the line" << false;
    QTest::newRow("waits at the box border, then goes in: one entry, in time")
        << "waits at the box, then goes in" << true;
    QTest::newRow("waits at the box border two seconds, then goes in: one entry, in time")
        << "waits at the box two seconds, then goes in" << true;
    QTest::newRow("comes out slowly and faint, seen only on the border: one exit")
        << "catalog 7 27" << true;
}

void TestCountingMethods::robustHoldsWhereClassicFails()
{
    QFETCH(QString, scene);
    QFETCH(bool, classicFails);
    const GroundTruthScene made = smallScene(scene);
    const std::vector<GroundTruthScene::Event> truth = made.truth();
    const QString video = writeScene(made, scene);
    QVERIFY(!video.isEmpty());
    const EventMatcher matcher = EventMatcher::forScene(made);
    DecodedVideo decoded;
    QVERIFY(decode(video, decoded));

    std::map<Kind, bool> exact;
    for (const Kind kind : { CountingMethod::Classic, CountingMethod::Robust }) {
        ProcessRun run;
        QVERIFY(process(run, video, kind, decoded));
        const EventMatcher::Tallies tallies = matcher.match(truth, readCounts(video));
        exact[kind] = true;
        for (const EventMatcher::Tally &t : tallies)
            exact[kind] = exact[kind] && t.missed() == 0 && t.extra() == 0;
    }
    QVERIFY2(exact[CountingMethod::Robust], qPrintable(scene));
    if (classicFails)
        QVERIFY2(!exact[CountingMethod::Classic], "the scene no longer shows a fault of classic");
}

// Crowded scenes that robust does not count exactly, but where it must
// find the events, at these frames, that were once missed.
void TestCountingMethods::robustFindsInACrowd_data()
{
    QTest::addColumn<QString>("scene");
    QTest::addColumn<QVector<int>>("frames");
    QTest::newRow("turns onto the line beside its own split blob, then leaves across")
        << "catalog 23 24" << QVector<int> { 309 };
    QTest::newRow("one crosses as another turns back across the line beside it: both")
        << "catalog 83 16" << QVector<int> { 220, 221 };
}

void TestCountingMethods::robustFindsInACrowd()
{
    QFETCH(QString, scene);
    QFETCH(QVector<int>, frames);
    const GroundTruthScene made = smallScene(scene);
    const std::vector<GroundTruthScene::Event> truth = made.truth();
    const QString video = writeScene(made, scene);
    QVERIFY(!video.isEmpty());
    ProcessRun run;
    QVERIFY(process(run, video, CountingMethod::Robust));
    std::vector<bool> found;
    EventMatcher::forScene(made).match(truth, readCounts(video), &found);
    for (const int frame : frames) {
        const auto event = std::find_if(truth.begin(), truth.end(),
            [frame](const GroundTruthScene::Event &e) { return e.frame == frame; });
        QVERIFY(event != truth.end());
        QVERIFY2(
            found[static_cast<size_t>(event - truth.begin())], qPrintable(QString::number(frame)));
    }
}

// One method at a time owns the target pool: switching must neither leave
// the other's records behind nor change what classic writes.
void TestCountingMethods::methodsTakeTurnsInOneProcess()
{
    const QString video = writeScene(smallScene(QStringLiteral("close pass")), "turns");
    QVERIFY(!video.isEmpty());
    const QString folder = QFileInfo(video).absolutePath();
    ProcessRun run;
    QCOMPARE(run.counting(), CountingMethod::Classic);
    QVERIFY(process(run, video, CountingMethod::Classic));
    const std::map<QString, QByteArray> classic = exports(folder);
    QVERIFY(process(run, video, CountingMethod::Robust));
    QCOMPARE(run.countingMethod().name(), QStringLiteral("robust"));
    const std::map<QString, QByteArray> robust = exports(folder);
    QVERIFY(process(run, video, CountingMethod::Classic));
    QCOMPARE(run.countingMethod().name(), QStringLiteral("classic"));
    QVERIFY(exports(folder) == classic);
    QVERIFY(robust != classic);
}

void TestCountingMethods::classicIsTheDefaultByteForByte()
{
    const QString video = writeScene(smallScene(QStringLiteral("along the line")), "default");
    QVERIFY(!video.isEmpty());
    const QString folder = QFileInfo(video).absolutePath();

    const Outcome byDefault = runBatch({ QStringLiteral("--quiet"), video });
    QCOMPARE(byDefault.status, 0);
    const std::map<QString, QByteArray> defaultFiles = exports(folder);
    const Outcome classic = runBatch({ QStringLiteral("--quiet"), QStringLiteral("--counting"),
        QStringLiteral("classic"), video });
    QCOMPARE(classic.status, 0);
    QCOMPARE(classic.out, byDefault.out);
    QVERIFY(exports(folder) == defaultFiles);
    QCOMPARE(defaultFiles.size(), size_t(5)); // two boxes, counts, image, density
}

void TestCountingMethods::jobsRunTheChosenMethod()
{
    const QString video = writeScene(smallScene(QStringLiteral("along the line")), "jobs");
    QVERIFY(!video.isEmpty());
    const QString folder = QFileInfo(video).absolutePath();

    const Outcome alone = runBatch({ QStringLiteral("--quiet"), QStringLiteral("--counting"),
        QStringLiteral("robust"), video });
    QCOMPARE(alone.status, 0);
    const std::map<QString, QByteArray> robustFiles = exports(folder);
    const Outcome child = runBatch({ QStringLiteral("--quiet"), QStringLiteral("--jobs"),
        QStringLiteral("1"), QStringLiteral("--counting=robust"), video });
    QCOMPARE(child.status, 0);
    QCOMPARE(child.out, alone.out);
    QVERIFY(exports(folder) == robustFiles);

    // Along the line classic counts every step and robust nothing, so the
    // files tell the methods apart.
    QVERIFY(runBatch({ QStringLiteral("--quiet"), video }).status == 0);
    QVERIFY(exports(folder) != robustFiles);
}

QTEST_APPLESS_MAIN(TestCountingMethods)
#include "test_countingmethods.moc"
