#include <map>
#include <set>
#include <vector>

#include <opencv2/videoio.hpp>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include "batchprocess.h"
#include "insectscene.h"
#include "run/processrun.h"
#include "scenes/demofolder.h"
#include "scenes/groundtruthscene.h"
#include "testfiles.h"
#include "zones/areacontour.h"
#include "zones/videofiles.h"
#include <unistd.h>

namespace {

const QByteArray header("Frame;X;Y;In;Out;Timestamp\n");
const std::vector<cv::Point> crossingLine { { 132, 60 }, { 132, 180 } };

using Outcome = BatchProcess::Outcome;

Outcome runBatch(const QStringList &arguments, const QString &workingDir = QString())
{
    return BatchProcess::run(QStringLiteral(KESTRIN_BATCH), arguments, workingDir);
}

using testfiles::snapshot;

using testfiles::exports;

std::set<QByteArray> lines(const QByteArray &text)
{
    std::set<QByteArray> set;
    for (const QByteArray &line : text.split('\n')) {
        if (!line.isEmpty())
            set.insert(line);
    }
    return set;
}

} // namespace

class TestKestrinBatch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void countsTheCrossingLikeTheWindow();
    void countsTheEntryIntoTheBox();
    void modesQueueTheRightVideos_data();
    void modesQueueTheRightVideos();
    void errorsTouchNothing_data();
    void errorsTouchNothing();
    void smallTrackingBoxOnlyWarns();
    void unusableQueuedVideosAreSkipped();
    void jobsGiveTheFilesOfOneVideoRuns();
    void boxesOfTheQueuedVideos_data();
    void boxesOfTheQueuedVideos();
    void boxFileLinesNotReadAsWritten();
    void noVideoLeftIsNoError();
    void shardsGiveTheFilesOfJobs();
    void demoFolderIsCountedAndNeverOverwritten();

private:
    QString work() const { return dir.filePath(QStringLiteral("work")); }
    QString copyCrossing(const QString &name) const;

    QTemporaryDir dir;
    QString crossing; // 140 frames, the disc flying right along y = 120
    QString still; // 100 frames of background
};

void TestKestrinBatch::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY2(QFileInfo(QStringLiteral(KESTRIN_BATCH)).isExecutable(), KESTRIN_BATCH);
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("source"))));
    crossing = dir.filePath(QStringLiteral("source/crossing.mp4"));
    still = dir.filePath(QStringLiteral("source/still.mp4"));
    QVERIFY(insectscene::write(crossing, 140, insectscene::rightwards));
    QVERIFY(insectscene::write(still, 100, [](int) { return cv::Point(-50, -50); }));
}

void TestKestrinBatch::init()
{
    QDir folder(work());
    QVERIFY(folder.removeRecursively());
    QVERIFY(QDir().mkpath(folder.path()));
}

QString TestKestrinBatch::copyCrossing(const QString &name) const
{
    const QString path = work() + QLatin1Char('/') + name;
    return QFile::copy(crossing, path) ? path : QString();
}

void TestKestrinBatch::countsTheCrossingLikeTheWindow()
{
    const QString video = copyCrossing(QStringLiteral("video_20160512_1000_01.mp4"));
    QVERIFY(!video.isEmpty());
    GroundTruthScene::saveBoxes(video, crossingLine, insectscene::wholeFrame());

    const Outcome batch = runBatch({ QStringLiteral("--quiet"), video });
    QCOMPARE(batch.status, 0);
    QCOMPARE(batch.out, QByteArray("video_20160512_1000_01: 49 frames, 1 in, 1 out\n"));
    const QByteArray counts = testfiles::read(VideoFiles::resultFile(video));
    const QList<QByteArray> records = counts.split('\n');
    QCOMPARE(records.size(), 3);
    QCOMPARE(records[0] + '\n', header);
    const QList<QByteArray> fields = records[1].split(';');
    QCOMPARE(fields.size(), 6);
    QCOMPARE(fields[0], QByteArray("114"));
    QVERIFY2(qAbs(fields[1].toInt() - 136) <= 3, fields[1]);
    QVERIFY2(qAbs(fields[2].toInt() - 120) <= 2, fields[2]);
    QCOMPARE(fields[3] + ';' + fields[4] + ';' + fields[5], QByteArray("1;1;2016-05-12_10:00:01"));
    const std::map<QString, QByteArray> fromBatch = exports(work());

    // The window's way: colour frames read one by one on the same thread.
    AreaContour zones;
    zones.loadArea(video);
    zones.loadMask(video);
    ProcessRun run;
    run.start(zones, insectscene::kSize, { video });
    cv::VideoCapture capture;
    QVERIFY(run.openNext(capture));
    cv::Mat frame;
    while (capture.read(frame))
        run.processFrame(frame);
    QVERIFY2(run.finishVideo(), qPrintable(run.failure()));
    QVERIFY(exports(work()) == fromBatch);
    QCOMPARE(fromBatch.size(), size_t(5)); // two boxes, counts, image, density
}

void TestKestrinBatch::countsTheEntryIntoTheBox()
{
    const QString video = copyCrossing(QStringLiteral("box.mp4"));
    QVERIFY(!video.isEmpty());
    GroundTruthScene::saveBoxes(
        video, { { 200, 60 }, { 300, 60 }, { 300, 180 }, { 200, 180 } }, insectscene::wholeFrame());

    const Outcome batch
        = runBatch({ QStringLiteral("--quiet"), QStringLiteral("box.mp4") }, work());
    QCOMPARE(batch.status, 0);
    QCOMPARE(batch.out, QByteArray("box: 49 frames, 1 in, 0 out\n"));
    const QList<QByteArray> records = testfiles::read(VideoFiles::resultFile(video)).split('\n');
    QCOMPARE(records.size(), 3);
    QVERIFY2(records[1].contains(";1;0;"), records[1]);
}

void TestKestrinBatch::modesQueueTheRightVideos_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QStringList>("processed");

    // b.mp4 has been processed before; VIDEO is c.mp4.
    QTest::newRow("one") << "one" << QStringList { "c" };
    QTest::newRow("all") << "all" << QStringList { "a", "b", "c", "D" };
    QTest::newRow("unprocessed") << "unprocessed" << QStringList { "a", "c", "D" };
}

void TestKestrinBatch::modesQueueTheRightVideos()
{
    QFETCH(QString, mode);
    QFETCH(QStringList, processed);

    for (const QString &name :
        QStringList { "a.mp4", "b.mp4", "c.mp4", "D.MP4", "e.avi", ".hidden.mp4" })
        QVERIFY(QFile::copy(still, work() + QLatin1Char('/') + name));
    QVERIFY(QFile::link(work() + QStringLiteral("/a.mp4"), work() + QStringLiteral("/link.mp4")));
    QVERIFY(QDir(work()).mkdir(QStringLiteral("folder.mp4")));
    const QString video = work() + QStringLiteral("/c.mp4");
    GroundTruthScene::saveBoxes(video, crossingLine, insectscene::wholeFrame());
    const QByteArray earlier = header + "5;6;7;1;0;earlier\n";
    QVERIFY(testfiles::write(VideoFiles::resultFile(work() + QStringLiteral("/b.mp4")), earlier));

    // One summary line per video, in the folder's listing order.
    QStringList expectedLines;
    for (const QString &path : VideoFiles::listVideos(work())) {
        if (processed.contains(VideoFiles::baseName(path)))
            expectedLines << VideoFiles::baseName(path) + QStringLiteral(": 9 frames, 0 in, 0 out");
    }

    const Outcome batch
        = runBatch({ QStringLiteral("--quiet"), QStringLiteral("--mode"), mode, video });
    QCOMPARE(batch.status, 0);
    QCOMPARE(expectedLines.size(), processed.size());
    QCOMPARE(
        QString::fromUtf8(batch.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts), expectedLines);

    for (const QString &name : QStringList { "a", "b", "c", "D", "e", ".hidden", "link" }) {
        const QString counts = work() + QStringLiteral("/exportCSV/") + name + ".csv";
        if (processed.contains(name))
            QCOMPARE(testfiles::read(counts), header);
        else if (name == QLatin1String("b"))
            QCOMPARE(testfiles::read(counts), earlier);
        else
            QVERIFY2(!QFile::exists(counts), qPrintable(counts));
    }
}

void TestKestrinBatch::errorsTouchNothing_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");

    QTest::newRow("missing video") << "missing" << 1 << "no such file";
    QTest::newRow("a folder") << "folder" << 1 << "not a readable file";
    QTest::newRow("unreadable video") << "unreadable" << 1 << "not a readable file";
    QTest::newRow("not a video") << "text" << 1 << "it cannot be opened";
    QTest::newRow("no frame 90") << "short" << 1 << "it has no frame 90";
    QTest::newRow("no box files") << "no boxes" << 1 << "missing counting box file";
    QTest::newRow("no counting box file") << "no area" << 1 << "missing counting box file";
    QTest::newRow("no tracking box file") << "no mask" << 1 << "missing tracking box file";
    QTest::newRow("counting box file is a directory")
        << "area dir" << 1 << "cannot use the counting box file @area: it is a directory";
    QTest::newRow("tracking box of too many points")
        << "mask huge" << 1
        << "cannot use the tracking box file @mask: it has more than 10000 points";
    QTest::newRow("unknown mode") << "mode" << 2 << "Unknown mode";
    QTest::newRow("no video given") << "none" << 2 << "No VIDEO given";
    QTest::newRow("two videos") << "two" << 2 << "Exactly one VIDEO";
    QTest::newRow("jobs not a number") << "jobs" << 2 << "--jobs needs a whole number";
    QTest::newRow("shard past the end") << "shard" << 2 << "--shard needs I/N";
    QTest::newRow("shard of one video") << "shard one" << 2 << "--shard needs --mode all";
}

void TestKestrinBatch::errorsTouchNothing()
{
    QFETCH(QString, kind);
    QFETCH(int, status);
    QFETCH(QString, message);

    // A folder as a run would leave it, with a video beside the one named.
    const QString video = work() + QStringLiteral("/video.mp4");
    const QString other = copyCrossing(QStringLiteral("other.mp4"));
    QVERIFY(!other.isEmpty());
    GroundTruthScene::saveBoxes(other, crossingLine, insectscene::wholeFrame());
    QStringList arguments { QStringLiteral("--mode"), QStringLiteral("all"), video };

    if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(video));
    } else if (kind == QLatin1String("unreadable")) {
        if (geteuid() == 0)
            QSKIP("every file is readable to root");
        QVERIFY(QFile::copy(still, video));
        QVERIFY(QFile::setPermissions(video, QFileDevice::WriteOwner));
    } else if (kind == QLatin1String("text")) {
        QVERIFY(testfiles::write(video, "not a video\n"));
    } else if (kind == QLatin1String("short")) {
        QVERIFY(insectscene::write(video, 60, insectscene::rightwards));
    } else if (kind != QLatin1String("missing")) {
        QVERIFY(QFile::copy(crossing, video));
    }
    if (kind == QLatin1String("no boxes")) {
        // Not even the exportCSV folder of this one.
        QVERIFY(QDir(work() + QStringLiteral("/exportCSV")).removeRecursively());
    } else if (kind != QLatin1String("missing") && kind != QLatin1String("folder")) {
        GroundTruthScene::saveBoxes(video, crossingLine, insectscene::wholeFrame());
    }
    if (kind == QLatin1String("no area"))
        QVERIFY(QFile::remove(VideoFiles::areaFile(video)));
    if (kind == QLatin1String("no mask"))
        QVERIFY(QFile::remove(VideoFiles::maskFile(video)));
    if (kind == QLatin1String("area dir")) {
        QVERIFY(QFile::remove(VideoFiles::areaFile(video)));
        QVERIFY(QDir().mkdir(VideoFiles::areaFile(video)));
    }
    if (kind == QLatin1String("mask huge"))
        QVERIFY(testfiles::write(VideoFiles::maskFile(video), QByteArray("5,5\n").repeated(10001)));
    message.replace(QStringLiteral("@area"), VideoFiles::areaFile(video));
    message.replace(QStringLiteral("@mask"), VideoFiles::maskFile(video));
    // Earlier results of both videos must survive.
    if (kind != QLatin1String("no boxes")) {
        QVERIFY(testfiles::write(VideoFiles::resultFile(video), header + "1;2;3;1;0;earlier\n"));
        QVERIFY(testfiles::write(VideoFiles::densityFile(other), "Density: 0.2500"));
    }
    if (kind == QLatin1String("mode"))
        arguments = QStringList { QStringLiteral("--mode"), QStringLiteral("some"), video };
    else if (kind == QLatin1String("none"))
        arguments = QStringList { QStringLiteral("--quiet") };
    else if (kind == QLatin1String("two"))
        arguments = QStringList { video, other };
    else if (kind == QLatin1String("jobs"))
        arguments = QStringList { QStringLiteral("--jobs"), QStringLiteral("two"), video };
    else if (kind == QLatin1String("shard"))
        arguments = QStringList { QStringLiteral("--mode"), QStringLiteral("all"),
            QStringLiteral("--shard"), QStringLiteral("2/2"), video };
    else if (kind == QLatin1String("shard one"))
        arguments = QStringList { QStringLiteral("--shard"), QStringLiteral("0/2"), video };

    const std::map<QString, QByteArray> before = snapshot(work());
    const Outcome batch = runBatch(arguments, work());
    QCOMPARE(batch.status, status);
    QVERIFY2(batch.err.contains(message.toUtf8()), batch.err);
    QVERIFY(batch.out.isEmpty());
    QVERIFY(snapshot(work()) == before);
}

void TestKestrinBatch::smallTrackingBoxOnlyWarns()
{
    const QString video = copyCrossing(QStringLiteral("video_20160512_1000_01.mp4"));
    QVERIFY(!video.isEmpty());
    GroundTruthScene::saveBoxes(video, crossingLine, { { 5, 5 }, { 315, 235 } });

    const Outcome batch = runBatch({ QStringLiteral("--quiet"), video });
    QCOMPARE(batch.status, 0);
    QVERIFY2(batch.err.contains("the tracking box has fewer than three points: almost nothing "
                                "will be detected"),
        batch.err);
    // Only the counting line is left to detect in: nothing crosses it.
    QCOMPARE(batch.out, QByteArray("video_20160512_1000_01: 49 frames, 0 in, 0 out\n"));
    QCOMPARE(testfiles::read(VideoFiles::resultFile(video)), header);
    QVERIFY(QFile::exists(VideoFiles::trajectoryImageFile(video)));
}

void TestKestrinBatch::unusableQueuedVideosAreSkipped()
{
    const QString video = copyCrossing(QStringLiteral("good.mp4"));
    QVERIFY(!video.isEmpty());
    GroundTruthScene::saveBoxes(video, crossingLine, insectscene::wholeFrame());
    const QString broken = work() + QStringLiteral("/broken.mp4");
    const QString shortVideo = work() + QStringLiteral("/short.mp4");
    const QString small = work() + QStringLiteral("/small.mp4");
    QVERIFY(testfiles::write(broken, "not a video"));
    QVERIFY(insectscene::write(shortVideo, 60, insectscene::rightwards));
    QVERIFY(insectscene::write(
        small, 100, [](int) { return cv::Point(40, 40); }, 90, cv::Size(160, 120)));
    for (const QString &path : { broken, shortVideo, small }) {
        QVERIFY(testfiles::write(VideoFiles::resultFile(path), header + "1;2;3;0;1;earlier\n"));
        QVERIFY(testfiles::write(VideoFiles::trajectoryImageFile(path), "earlier image"));
        QVERIFY(testfiles::write(VideoFiles::densityFile(path), "Density: 0.1234"));
    }
    std::map<QString, QByteArray> before = exports(work());

    const Outcome batch = runBatch(
        { QStringLiteral("--quiet"), QStringLiteral("--mode"), QStringLiteral("all"), video });
    QCOMPARE(batch.status, 3);
    QCOMPARE(batch.out, QByteArray("good: 49 frames, 1 in, 1 out\n"));
    QVERIFY2(batch.err.contains("skipped " + broken.toUtf8() + ": it cannot be opened"), batch.err);
    QVERIFY2(
        batch.err.contains("skipped " + shortVideo.toUtf8() + ": it has no frame 90"), batch.err);
    QVERIFY2(batch.err.contains(
                 "skipped " + small.toUtf8() + ": its frames are 160x120, the run's are 320x240"),
        batch.err);

    // Only the good video's files changed.
    std::map<QString, QByteArray> after = exports(work());
    for (const QString &name : QStringList { "good.csv", "good_doza.jpg", "good_doza.txt" }) {
        QVERIFY(after.count(name) == 1);
        after.erase(name);
        before.erase(name);
    }
    QVERIFY(after == before);
}

void TestKestrinBatch::jobsGiveTheFilesOfOneVideoRuns()
{
    // Named with their recording times, so that time stamps do not depend
    // on when the test runs.
    const QStringList names { "video_20160512_1000_01.mp4", "video_20160512_1010_02.mp4",
        "video_20160512_1020_03.mp4" };
    const QString parallelDir = work() + QStringLiteral("/parallel");
    const QString sequentialDir = work() + QStringLiteral("/sequential");
    for (const QString &folder : { parallelDir, sequentialDir }) {
        QVERIFY(QDir().mkpath(folder));
        for (const QString &name : names) {
            const QString path = folder + QLatin1Char('/') + name;
            QVERIFY(QFile::copy(crossing, path));
            GroundTruthScene::saveBoxes(path, crossingLine, insectscene::wholeFrame());
        }
    }

    const Outcome parallel = runBatch({ QStringLiteral("--quiet"), QStringLiteral("--mode"),
        QStringLiteral("all"), QStringLiteral("--jobs"), QStringLiteral("2"),
        parallelDir + QLatin1Char('/') + names[1] });
    QCOMPARE(parallel.status, 0);
    QByteArray sequentialOut;
    for (const QString &name : names) {
        const Outcome one = runBatch({ QStringLiteral("--quiet"), name }, sequentialDir);
        QCOMPARE(one.status, 0);
        sequentialOut += one.out;
    }
    QCOMPARE(lines(parallel.out), lines(sequentialOut));
    QCOMPARE(lines(parallel.out).size(), size_t(3));
    const std::map<QString, QByteArray> files = exports(parallelDir);
    QCOMPARE(files.size(), size_t(3 * 5));
    QVERIFY(files == exports(sequentialDir));
}

void TestKestrinBatch::boxesOfTheQueuedVideos_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("other"); // the second video's summary line
    QTest::addColumn<bool>("warned");

    QTest::newRow("current, the default")
        << QStringList() << QByteArray("b: 49 frames, 1 in, 1 out") << true;
    QTest::newRow("own") << QStringList { "--boxes", "own" }
                         << QByteArray("b: 49 frames, 0 in, 0 out") << false;
    QTest::newRow("own, in jobs") << QStringList { "--boxes", "own", "--jobs", "2" }
                                  << QByteArray("b: 49 frames, 0 in, 0 out") << false;
}

void TestKestrinBatch::boxesOfTheQueuedVideos()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, other);
    QFETCH(bool, warned);

    const QString a = copyCrossing(QStringLiteral("a.mp4"));
    const QString b = copyCrossing(QStringLiteral("b.mp4"));
    GroundTruthScene::saveBoxes(a, crossingLine, insectscene::wholeFrame());
    // A line the disc never reaches.
    GroundTruthScene::saveBoxes(b, { { 300, 60 }, { 300, 180 } }, insectscene::wholeFrame());
    const Outcome batch = runBatch(
        QStringList { QStringLiteral("--quiet"), QStringLiteral("--mode"), QStringLiteral("all") }
        + options + QStringList { a });
    QCOMPARE(batch.status, 0);
    QVERIFY2(lines(batch.out).count("a: 49 frames, 1 in, 1 out") == 1, batch.out);
    QVERIFY2(lines(batch.out).count(other) == 1, batch.out);
    // One line naming the video whose own boxes were set aside.
    const QByteArray warning
        = "kestrin-batch: warning: " + b.toUtf8() + ": counted with the boxes of " + a.toUtf8();
    QCOMPARE(batch.err.count(warning), warned ? 1 : 0);
    QCOMPARE(batch.err.count("warning"), warned ? 1 : 0);
}

void TestKestrinBatch::boxFileLinesNotReadAsWritten()
{
    const QString video = copyCrossing(QStringLiteral("v.mp4"));
    GroundTruthScene::saveBoxes(video, crossingLine, insectscene::wholeFrame());
    const QByteArray area = VideoFiles::areaFile(video).toUtf8();
    QVERIFY(testfiles::write(area, "132 60\nnan,60\n132,99999999999\n"));
    const Outcome batch = runBatch({ QStringLiteral("--quiet"), video });
    QCOMPARE(batch.status, 0);
    // One line of the program's own for each, naming the file and line.
    const QList<QByteArray> err = batch.err.trimmed().split('\n');
    QCOMPARE(err.size(), 3);
    for (int line = 0; line < err.size(); ++line)
        QVERIFY2(err[line].startsWith(
                     "kestrin-batch: warning: " + area + ':' + QByteArray::number(line + 1) + ": "),
            batch.err);
}

void TestKestrinBatch::noVideoLeftIsNoError()
{
    const QString video = copyCrossing(QStringLiteral("done.mp4"));
    QVERIFY(!video.isEmpty());
    GroundTruthScene::saveBoxes(video, crossingLine, insectscene::wholeFrame());
    QVERIFY(testfiles::write(VideoFiles::resultFile(video), header));
    const std::map<QString, QByteArray> before = snapshot(work());

    const Outcome batch = runBatch({ QStringLiteral("--quiet"), QStringLiteral("--mode"),
        QStringLiteral("unprocessed"), video });
    QCOMPARE(batch.status, 0);
    QVERIFY(batch.out.isEmpty());
    QVERIFY2(batch.err.contains("no video to process"), batch.err);
    QVERIFY(snapshot(work()) == before);
}

void TestKestrinBatch::shardsGiveTheFilesOfJobs()
{
    const QStringList names { "video_20160512_1000_01.mp4", "video_20160512_1010_02.mp4",
        "video_20160512_1020_03.mp4", "video_20160512_1030_04.mp4" };
    const QString jobsDir = work() + QStringLiteral("/jobs");
    const QString shardDir = work() + QStringLiteral("/shards");
    for (const QString &folder : { jobsDir, shardDir }) {
        QVERIFY(QDir().mkpath(folder));
        for (const QString &name : names)
            QVERIFY(QFile::copy(crossing, folder + QLatin1Char('/') + name));
        // VIDEO's boxes serve every video of the folder.
        GroundTruthScene::saveBoxes(
            folder + QLatin1Char('/') + names[2], crossingLine, insectscene::wholeFrame());
    }

    const Outcome jobs
        = runBatch({ QStringLiteral("--quiet"), QStringLiteral("--mode"), QStringLiteral("all"),
            QStringLiteral("--jobs"), QStringLiteral("2"), jobsDir + QLatin1Char('/') + names[2] });
    QCOMPARE(jobs.status, 0);

    // Three shards one after the other, in "unprocessed" mode: what an
    // earlier shard has done must not move the videos of a later one.
    QByteArray shardOut;
    for (int index : { 2, 0, 1 }) {
        const Outcome shard = runBatch(
            { QStringLiteral("--quiet"), QStringLiteral("--mode"), QStringLiteral("unprocessed"),
                QStringLiteral("--shard"), QStringLiteral("%1/3").arg(index), names[2] },
            shardDir);
        QCOMPARE(shard.status, 0);
        // Four videos in three shards: the first takes two of them.
        QCOMPARE(lines(shard.out).size(), size_t(index == 0 ? 2 : 1));
        shardOut += shard.out;
    }
    QCOMPARE(lines(shardOut), lines(jobs.out));
    const std::map<QString, QByteArray> files = exports(shardDir);
    QCOMPARE(files.size(), size_t(2 + 4 * 3));
    QVERIFY(files == exports(jobsDir));

    // A shard with nothing left to do is no error and touches nothing.
    const std::map<QString, QByteArray> before = snapshot(shardDir);
    const Outcome again = runBatch({ QStringLiteral("--quiet"), QStringLiteral("--mode"),
        QStringLiteral("unprocessed"), QStringLiteral("--shard"), QStringLiteral("0/3"),
        shardDir + QLatin1Char('/') + names[2] });
    QCOMPARE(again.status, 0);
    QVERIFY(again.out.isEmpty());
    QVERIFY(snapshot(shardDir) == before);
}

void TestKestrinBatch::demoFolderIsCountedAndNeverOverwritten()
{
    const QString demo = work() + QStringLiteral("/new/demo");
    // Its list of videos to a full device: made, but not said, so a failure.
    const Outcome made = BatchProcess::run(QStringLiteral(KESTRIN_BATCH),
        { QStringLiteral("--make-demo"), demo }, QString(), QStringLiteral("/dev/full"));
    QCOMPARE(made.status, 1);
    QVERIFY2(
        made.err.contains("cannot write to standard output: No space left on device"), made.err);
    QList<QByteArray> videos;
    for (const QString &name : DemoFolder::videoNames())
        videos << QFile::encodeName(demo + QLatin1Char('/') + name);
    QCOMPARE(videos.size(), 2);
    for (const QByteArray &path : videos) {
        cv::VideoCapture capture(path.toStdString());
        QVERIFY2(capture.isOpened(), path);
        QCOMPARE(capture.get(cv::CAP_PROP_FRAME_WIDTH), 1280.0);
        QCOMPARE(capture.get(cv::CAP_PROP_FRAME_HEIGHT), 720.0);
    }
    // Only the videos and their boxes: no temporary file is left.
    QCOMPARE(snapshot(demo).size(), size_t(2 + 1 + 2 * 2));

    // Each video, run with its own boxes, counts insects.
    for (const QByteArray &path : videos) {
        const Outcome run = runBatch({ QStringLiteral("--quiet"), QString::fromLocal8Bit(path) });
        QCOMPARE(run.status, 0);
        const QByteArray counts
            = testfiles::read(VideoFiles::resultFile(QString::fromLocal8Bit(path)));
        QVERIFY2(counts.startsWith(header) && counts.count('\n') > 2, counts);
    }

    const std::map<QString, QByteArray> before = snapshot(demo);
    const Outcome again = runBatch({ QStringLiteral("--make-demo"), demo });
    QCOMPARE(again.status, 1);
    QVERIFY2(again.err.contains("exists already"), again.err);
    QVERIFY(snapshot(demo) == before);
}

QTEST_GUILESS_MAIN(TestKestrinBatch)
#include "test_kestrinbatch.moc"
