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

#include "batchoptions.h"
#include "batchprocess.h"
#include "imgproc/countingmethod.h"
#include "run/processrun.h"
#include "run/rundriver.h"
#include "scenes/eventmatcher.h"
#include "scenes/groundtruthscene.h"
#include "testfiles.h"
#include "zones/areacontour.h"
#include "zones/resultfile.h"
#include "zones/videofiles.h"

namespace {

using Kind = CountingMethod::Kind;

const cv::Size kSize(640, 480);
const std::vector<cv::Point> kWholeFrame { { 10, 10 }, { 630, 10 }, { 630, 470 }, { 10, 470 } };
const std::vector<cv::Point> kVerticalLine { { 320, 40 }, { 320, 440 } };
const std::vector<cv::Point> kBox { { 240, 160 }, { 400, 160 }, { 400, 320 }, { 240, 320 } };

// Straight legs at `speed` px per frame.
struct Leg
{
    cv::Point2d to;
    double speed = 0;
};

GroundTruthScene::Insect insect(int start, cv::Point2d from, const std::vector<Leg> &legs)
{
    GroundTruthScene::Insect i;
    i.start = start;
    i.radius = 6;
    i.level = 30;
    i.path.push_back(from);
    for (const Leg &leg : legs) {
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
    } else if (name == QLatin1String("along the line")) {
        scene.addInsect(insect(100, { 320, 60 }, { { { 320, 420 }, 6 } }));
    } else if (name == QLatin1String("one goes in, another comes out there")) {
        // The second shows up where the first went in, 0.7 s later.
        scene.setCountingBox(kBox);
        scene.addInsect(insect(100, { 80, 240 }, { { { 300, 240 }, 6 } }));
        scene.addInsect(insect(140, { 270, 244 }, { { { 80, 244 }, 6 } }));
    }
    return scene;
}

QVector<Result> readCounts(const QString &video)
{
    return ResultFile::readAll(VideoFiles::resultFile(video)).value_or(QVector<Result>());
}

// Processes `video` as the window does, with `kind`; false when it cannot.
bool process(RunDriver &driver, const QString &video, Kind kind)
{
    driver.setCounting(kind);
    return driver.runAlone(video, kSize);
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

    void robustHoldsWhereClassicFails_data();
    void robustHoldsWhereClassicFails();
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

// Through an encoded video as the programs read it; the robust method's
// own mechanisms are tested frame by frame in test_robustcounting.
void TestCountingMethods::robustHoldsWhereClassicFails_data()
{
    QTest::addColumn<QString>("scene");
    QTest::addColumn<bool>("classicFails");
    QTest::newRow("a line from the top row: one count") << "line from the top row" << false;
    QTest::newRow("two insects passing close: no swap, no extra") << "close pass" << true;
    QTest::newRow("one goes in, another comes out there: one entry, one exit")
        << "one goes in, another comes out there" << true;
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
        if (kind == CountingMethod::Robust && made.isLine()) {
            // Every crossing found carries the way the insect flew.
            const EventMatcher::Tally &t = tallies[GroundTruthScene::Crossing];
            QCOMPARE(t.directed, t.found);
            QCOMPARE(t.directionRight, t.found);
        }
        exact[kind] = true;
        for (const EventMatcher::Tally &t : tallies)
            exact[kind] = exact[kind] && t.missed() == 0 && t.extra() == 0;
    }
    QVERIFY2(exact[CountingMethod::Robust], qPrintable(scene));
    if (classicFails)
        QVERIFY2(!exact[CountingMethod::Classic], "the scene no longer shows a fault of classic");
}

// One method at a time owns the target pool: switching must neither leave
// the other's records behind nor change what classic writes.
void TestCountingMethods::methodsTakeTurnsInOneProcess()
{
    const QString video = writeScene(smallScene(QStringLiteral("close pass")), "turns");
    QVERIFY(!video.isEmpty());
    const QString folder = QFileInfo(video).absolutePath();
    RunDriver driver;
    QCOMPARE(driver.current().counting(), CountingMethod::Classic);
    QVERIFY(process(driver, video, CountingMethod::Classic));
    const std::map<QString, QByteArray> classic = exports(folder);
    QVERIFY(process(driver, video, CountingMethod::Robust));
    QCOMPARE(driver.current().countingMethod().name(), QStringLiteral("robust"));
    const std::map<QString, QByteArray> robust = exports(folder);
    QVERIFY(process(driver, video, CountingMethod::Classic));
    QCOMPARE(driver.current().countingMethod().name(), QStringLiteral("classic"));
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
