#include <vector>

#include <opencv2/videoio.hpp>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "insectscene.h"
#include "report/foldersummary.h"
#include "run/processrun.h"
#include "scenes/groundtruthscene.h"
#include "testfiles.h"
#include "version.h"
#include "zones/areacontour.h"
#include "zones/resultfile.h"
#include "zones/runrecord.h"
#include "zones/trackwriter.h"
#include "zones/videofiles.h"
#include <sys/stat.h>

namespace {

// Crossed by the disc between frames 114 and 115 (see test_processrun).
const std::vector<cv::Point> crossingLine { { 132, 60 }, { 132, 180 } };
constexpr int kFrames = 140;

AreaContour loadZones(const QString &video)
{
    AreaContour zones;
    zones.loadArea(video);
    zones.loadMask(video);
    return zones;
}

// The tracks file the engine's tracks make, frame by frame, as the run
// hands them on: what --tracks must write.
QByteArray tracksLine(double frame, const TargetList &tracks, int firstId)
{
    QByteArray text;
    for (const Target *t : tracks) {
        text += ResultFile::formatFrame(frame).toUtf8() + ';' + QByteArray::number(t->id - firstId)
            + ';' + QByteArray::number(t->centroid.x) + ';' + QByteArray::number(t->centroid.y)
            + ';' + QByteArray::number(t->width) + ';' + QByteArray::number(t->height) + '\n';
    }
    return text;
}

} // namespace

class TestRunRecord : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void completeRunIsRecorded();
    void cancelledRunIsPartial();
    void chosenMethodIsRecorded();
    void recordRoundTrips();
    void unwritableRecordIsReported();
    void tracksEqualTheEngines();

private:
    // Processes `frames` frames of the video (all when negative) in the
    // window's way; `tracks` collects what the engine reported per frame.
    void process(ProcessRun &run, int frames, QByteArray *tracks = nullptr);

    QTemporaryDir dir;
    QString source;
    QString video;
};

void TestRunRecord::initTestCase()
{
    QVERIFY(dir.isValid());
    source = dir.filePath(QStringLiteral("crossing.mp4"));
    QVERIFY(insectscene::write(source, kFrames, insectscene::rightwards));
}

void TestRunRecord::init()
{
    QDir work(dir.filePath(QStringLiteral("work")));
    QVERIFY(work.removeRecursively());
    QVERIFY(QDir().mkpath(work.path()));
    video = work.filePath(QStringLiteral("video_20160512_1000_01.mp4"));
    QVERIFY(QFile::copy(source, video));
    GroundTruthScene::saveBoxes(video, crossingLine, insectscene::wholeFrame());
}

void TestRunRecord::process(ProcessRun &run, int frames, QByteArray *tracks)
{
    run.start(loadZones(video), insectscene::kSize, { video });
    // Ids go on from the earlier runs of this process; the file counts
    // them from the run's start.
    const int firstId = Target::counter();
    cv::VideoCapture capture;
    QVERIFY(run.openNext(capture));
    cv::Mat frame;
    for (int i = 0; (frames < 0 || i < frames) && capture.read(frame); ++i) {
        const double position = run.position();
        run.processFrame(frame);
        if (tracks)
            *tracks += tracksLine(position, run.tracked(), firstId);
    }
}

void TestRunRecord::completeRunIsRecorded()
{
    ProcessRun run;
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    process(run, -1);
    run.finishVideo();
    QVERIFY(run.writeErrors().isEmpty());

    RunRecord record;
    QString error;
    QVERIFY2(RunRecord::load(VideoFiles::runRecordFile(video), record, &error), qPrintable(error));
    QCOMPARE(record.status, RunRecord::Status::Complete);
    QCOMPARE(record.video, QFileInfo(video).fileName());
    QCOMPARE(record.method, QStringLiteral("classic"));
    QCOMPARE(record.parameters.value(QStringLiteral("max_age")).toInt(), 5);
    QCOMPARE(record.parameters.value(QStringLiteral("max_distance")).toInt(), 1000);
    const AreaContour zones = loadZones(video);
    QCOMPARE(record.countingBox, zones.getArea());
    QCOMPARE(record.trackingBox, zones.getMask());
    QCOMPARE(record.frameWidth, insectscene::kSize.width);
    QCOMPARE(record.frameHeight, insectscene::kSize.height);
    QCOMPARE(record.fps, 90.0);
    QCOMPARE(record.declaredFrames, double(kFrames));
    // Numbered as in the count file: frame 91 is handed on as 90.
    QCOMPARE(record.framesProcessed, kFrames - 91);
    QCOMPARE(record.firstFrame, 90.0);
    QCOMPARE(record.lastFrame, double(kFrames - 2));
    QCOMPARE(record.in, 1);
    QCOMPARE(record.out, 1);
    QVERIFY(record.started >= before);
    QVERIFY(record.ended >= record.started);
    QVERIFY(record.ended <= QDateTime::currentDateTime());
    // The offset from UTC is written with the local time.
    const QByteArray json = testfiles::read(VideoFiles::runRecordFile(video));
    QVERIFY(json.contains(RunRecord::formatTime(record.started).toUtf8()));
    QVERIFY(
        RunRecord::formatTime(record.started).contains(QRegularExpression("[+-]\\d\\d:\\d\\d$")));
}

void TestRunRecord::cancelledRunIsPartial()
{
    ProcessRun run;
    process(run, -1);
    run.finishVideo();
    const QByteArray complete = testfiles::read(VideoFiles::runRecordFile(video));
    QVERIFY(!complete.isEmpty());
    QVERIFY(testfiles::write(VideoFiles::tracksFile(video), "an earlier run's tracks"));

    // Until a run completes the video, the earlier record and tracks stay;
    // a cancelled one leaves its record beside its partial counts.
    run.setTrackExport(true);
    process(run, 20);
    run.cancel();
    QCOMPARE(testfiles::read(VideoFiles::runRecordFile(video)), complete);
    QCOMPARE(testfiles::read(VideoFiles::tracksFile(video)), QByteArray("an earlier run's tracks"));
    QVERIFY(!QFileInfo::exists(VideoFiles::tracksFile(video) + QStringLiteral(".writing")));
    RunRecord record;
    QVERIFY(RunRecord::load(VideoFiles::partialRunRecordFile(video), record, nullptr));
    QCOMPARE(record.status, RunRecord::Status::Partial);
    QCOMPARE(record.reason, QStringLiteral("cancelled"));
    QCOMPARE(record.framesProcessed, 20);
    QCOMPARE(record.lastFrame, 109.0);
    QCOMPARE(record.in + record.out, 0); // the crossing comes later
    // The summary goes by the complete files while they exist, else by the
    // partial ones.
    const QString folder = QFileInfo(video).absolutePath();
    QCOMPARE(FolderSummary::read(folder).rows().value(0).status, FolderSummary::Status::Processed);
    QVERIFY(QFile::remove(VideoFiles::resultFile(video)));
    QCOMPARE(FolderSummary::read(folder).rows().value(0).status, FolderSummary::Status::Partial);
    QCOMPARE(FolderSummary::read(folder).rows().value(0).framesProcessed, 20);

    // A complete run replaces the record, drops the partial one and, without
    // track export, the earlier tracks that no longer fit its counts.
    run.setTrackExport(false);
    process(run, -1);
    QVERIFY(run.finishVideo());
    QVERIFY(RunRecord::load(VideoFiles::runRecordFile(video), record, nullptr));
    QCOMPARE(record.status, RunRecord::Status::Complete);
    QVERIFY(!QFileInfo::exists(VideoFiles::partialRunRecordFile(video)));
    QVERIFY(!QFileInfo::exists(VideoFiles::tracksFile(video)));
}

void TestRunRecord::chosenMethodIsRecorded()
{
    ProcessRun run;
    run.setCounting(CountingMethod::Robust);
    process(run, -1);
    run.finishVideo();
    RunRecord record;
    QVERIFY(RunRecord::load(VideoFiles::runRecordFile(video), record, nullptr));
    QCOMPARE(record.method, QStringLiteral("robust"));
    QCOMPARE(record.parameters, run.methodParameters());
    QVERIFY(record.parameters.contains(QStringLiteral("gate_px")));
    QVERIFY(!record.parameters.contains(QStringLiteral("max_age")));
    // Robust does not use the motion detector.
    QVERIFY(!record.parameters.contains(QStringLiteral("difference_threshold")));
}

void TestRunRecord::recordRoundTrips()
{
    RunRecord record;
    record.version = kestrin::version();
    record.video = QStringLiteral("a;b.mp4");
    record.method = QStringLiteral("classic");
    record.parameters = QJsonObject { { QStringLiteral("max_age"), 5 } };
    record.countingBox = { { 1, 2 }, { -3, 4 } };
    record.trackingBox = { { 5, 6 }, { 7, 8 }, { 9, 10 }, { 5, 6 } };
    record.frameWidth = 1920;
    record.frameHeight = 1080;
    record.fps = 29.97;
    record.declaredFrames = 1234567;
    record.firstFrame = 90;
    record.lastFrame = 1234560;
    record.framesProcessed = 1234471;
    record.in = 12;
    record.out = 9;
    record.started = QDateTime(QDate(2015, 6, 12), QTime(9, 30), Qt::OffsetFromUTC, 7200);
    record.ended = record.started.addSecs(3600);
    record.status = RunRecord::Status::Partial;
    record.reason = QStringLiteral("cancelled");

    const QString path = dir.filePath(QStringLiteral("record.json"));
    QString error;
    QVERIFY2(record.save(path, &error), qPrintable(error));
    RunRecord back;
    QVERIFY2(RunRecord::load(path, back, &error), qPrintable(error));
    QVERIFY(back == record);
    QVERIFY(testfiles::read(path).contains("\"2015-06-12T09:30:00+02:00\""));

    // Not a record: refused with the file named.
    QVERIFY(testfiles::write(path, "{\"status\": \"unknown\"}"));
    QVERIFY(!RunRecord::load(path, back, &error));
    QVERIFY(error.startsWith(path));
    QVERIFY(back == record);

    // Only a regular file is read: a pipe or a device would never end.
    QVERIFY(QFile::remove(path));
    QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    QVERIFY(!RunRecord::load(path, back, &error));
    QVERIFY2(error.endsWith(QStringLiteral("it is a pipe")), qPrintable(error));
    QVERIFY(QFile::remove(path) && QFile::link(QStringLiteral("/dev/zero"), path));
    QVERIFY(!RunRecord::load(path, back, &error));
    QVERIFY2(error.endsWith(QStringLiteral("it is a device")), qPrintable(error));
}

void TestRunRecord::unwritableRecordIsReported()
{
    // exportCSV is a file: neither the record nor its temporary file fit.
    const QString blocked = dir.filePath(QStringLiteral("blocked"));
    QVERIFY(testfiles::write(blocked + QStringLiteral("/exportCSV"), "a file"));
    RunRecord record;
    record.method = QStringLiteral("classic");
    QString error;
    const QString path = VideoFiles::runRecordFile(blocked + QStringLiteral("/v.mp4"));
    QVERIFY(!record.save(path, &error));
    QVERIFY2(error.contains(path) && error.contains(QStringLiteral("Not a directory")),
        qPrintable(error));
}

void TestRunRecord::tracksEqualTheEngines()
{
    ProcessRun run;
    QByteArray expected(TrackWriter::header());
    process(run, -1, &expected);
    run.finishVideo();
    QVERIFY(!QFileInfo::exists(VideoFiles::tracksFile(video))); // off by default
    QVERIFY(expected.count('\n') > 20); // the disc was tracked

    QProcess batch;
    batch.start(QStringLiteral(KESTRIN_BATCH),
        { QStringLiteral("--quiet"), QStringLiteral("--tracks"), video });
    QVERIFY(batch.waitForFinished(60000));
    QVERIFY2(batch.exitCode() == 0, batch.readAllStandardError().constData());
    QCOMPARE(testfiles::read(VideoFiles::tracksFile(video)), expected);
    QVERIFY(!QFileInfo::exists(VideoFiles::tracksFile(video) + QStringLiteral(".writing")));

    // The window's way writes the same bytes, in a later run too.
    QVERIFY(
        QFile::rename(VideoFiles::tracksFile(video), dir.filePath(QStringLiteral("batch.csv"))));
    run.setTrackExport(true);
    process(run, -1);
    run.finishVideo();
    QCOMPARE(testfiles::read(VideoFiles::tracksFile(video)), expected);
}

QTEST_APPLESS_MAIN(TestRunRecord)
#include "test_runrecord.moc"
