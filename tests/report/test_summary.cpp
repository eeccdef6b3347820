#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "batchprocess.h"
#include "report/activitybins.h"
#include "report/activitychart.h"
#include "report/foldersummary.h"
#include "report/summaryreport.h"
#include "samplefolder.h"
#include "testfiles.h"
#include "zones/videofiles.h"
#include <sys/stat.h>

namespace {

using Outcome = BatchProcess::Outcome;

Outcome runBatch(const QStringList &arguments)
{
    return BatchProcess::run(QStringLiteral(KESTRIN_BATCH), arguments);
}

using Row = QStringList;

// A run record with the frame figures `frames`, JSON members.
QByteArray runRecord(const QByteArray &frames)
{
    return R"({"status":"complete","method":{"name":"classic"},"countingBox":[],)"
           R"("trackingBox":[],)"
        + frames + '}';
}

} // namespace

class TestSummary : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void rowsFollowTheListing();
    void totalsAndUndatedEvents();
    void activity_data();
    void activity();
    void chartHasBarsWhereTheCountsAre();
    void badInputs_data();
    void badInputs();
    void aPipeForCountsIsNamed();
    void batchWritesTheSameFiles();
    void batchRefuses_data();
    void batchRefuses();
    void batchFailsOnAChartItCannotWrite();

private:
    QString site() const { return dir->filePath(QStringLiteral("site")); }

    std::unique_ptr<QTemporaryDir> dir;
};

void TestSummary::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    QVERIFY(samplefolder::make(site()));
}

void TestSummary::rowsFollowTheListing()
{
    const QMap<QString, QByteArray> expected {
        { samplefolder::first,
            "video_20150612_0930_01.mp4;2015-06-12 "
            "09:30:00;1:00:00;323910;2;2;processed;classic;;;none" },
        { samplefolder::second,
            "video_20150612_1030_02.mp4;2015-06-12 "
            "10:30:00;1:00:00;323910;2;1;processed;classic;;;none" },
        { samplefolder::partial,
            "video_20150612_1230_03.mp4;2015-06-12 "
            "12:30:00;1:00:00;108000;1;0;partial;classic;;;none" },
        { samplefolder::unprocessed,
            "video_20150612_1330_04.mp4;2015-06-12 13:30:00;;;;;not processed;;;;none" },
        // No record: no method, no frame count, no duration.
        { samplefolder::undated, "clip.mp4;;;;1;2;processed;;;;none" },
    };
    QByteArray csv("Video;Recording start;Duration;Frames processed;In;Out;Status;Method;"
                   "Reviewed in;Reviewed out;Review status\n");
    for (const QString &video : VideoFiles::listVideos(site()))
        csv += expected.value(QFileInfo(video).fileName()) + '\n';
    QCOMPARE(FolderSummary::read(site()).summaryCsv(), csv);
}

void TestSummary::totalsAndUndatedEvents()
{
    const FolderSummary summary = FolderSummary::read(site());
    QCOMPARE(summary.rows().size(), 5);
    QCOMPARE(summary.countFiles(), 4);
    QCOMPARE(summary.totalIn(), 6);
    QCOMPARE(summary.totalOut(), 5);
    QCOMPARE(
        FolderSummary::formatTime(summary.firstEvent()), QStringLiteral("2015-06-12 09:31:10"));
    QCOMPARE(FolderSummary::formatTime(summary.lastEvent()), QStringLiteral("2015-06-12 12:31:00"));
    // The unreadable stamp, and the three of the video without a date.
    QCOMPARE(summary.undatedEvents(), 4);
    // The partial video's span is what was processed of it.
    QCOMPARE(summary.spans().size(), 3);
    QCOMPARE(
        FolderSummary::formatTime(summary.spans()[2].start), QStringLiteral("2015-06-12 12:30:01"));
    QCOMPARE(
        FolderSummary::formatTime(summary.spans()[2].end), QStringLiteral("2015-06-12 12:50:01"));
}

void TestSummary::activity_data()
{
    QTest::addColumn<QString>("width");
    QTest::addColumn<int>("bins");
    QTest::addColumn<QStringList>("counted"); // "start;in;out" of the bins with counts
    QTest::addColumn<QString>("empty"); // a bin inside the range with none

    // From the first recording's start to the end of the partial one's
    // processed part, 12:50:01 (the bin of 12:50 holds its last second).
    QTest::newRow("10 minutes") << "10m" << 21
                                << QStringList { "2015-06-12 09:30;1;0", "2015-06-12 09:40;0;1",
                                       "2015-06-12 10:10;1;0", "2015-06-12 10:30;2;0",
                                       "2015-06-12 10:50;0;1", "2015-06-12 12:30;1;0" }
                                << "2015-06-12 11:00";
    QTest::newRow("hour") << "1h" << 4
                          << QStringList { "2015-06-12 09:00;1;1", "2015-06-12 10:00;3;1",
                                 "2015-06-12 12:00;1;0" }
                          << "2015-06-12 11:00";
    QTest::newRow("day") << "1d" << 1 << QStringList { "2015-06-12 00:00;5;2" } << QString();
}

void TestSummary::activity()
{
    QFETCH(QString, width);
    QFETCH(int, bins);
    QFETCH(QStringList, counted);
    QFETCH(QString, empty);

    ActivityBins::Width w;
    QVERIFY(ActivityBins::parseWidth(width, w));
    const ActivityBins activity = ActivityBins::compute(FolderSummary::read(site()), w);
    QCOMPARE(activity.bins().size(), bins);
    QStringList withCounts;
    QStringList starts;
    for (const ActivityBins::Bin &bin : activity.bins()) {
        const QString start = bin.start.toString(QStringLiteral("yyyy-MM-dd hh:mm"));
        starts << start;
        if (bin.in || bin.out)
            withCounts << QStringLiteral("%1;%2;%3").arg(start).arg(bin.in).arg(bin.out);
    }
    QCOMPARE(withCounts, counted);
    if (!empty.isEmpty())
        QVERIFY(starts.contains(empty));
    QCOMPARE(activity.undatedIn(), 1);
    QCOMPARE(activity.undatedOut(), 3);

    // The file lists every bin, then the undated events.
    const QList<QByteArray> lines = activity.csv().split('\n');
    QCOMPARE(lines.first(), QByteArray("Start;End;In;Out"));
    QCOMPARE(lines.size(), bins + 3); // header, bins, undated, and the last line end
    QCOMPARE(lines[bins + 1], QByteArray("undated;;1;3"));
    if (!empty.isEmpty())
        QVERIFY(activity.csv().contains(empty.toUtf8() + ';'));
}

void TestSummary::chartHasBarsWhereTheCountsAre()
{
    const FolderSummary summary = FolderSummary::read(site());
    const ActivityBins activity = ActivityBins::compute(summary, ActivityBins::Width::Hour);
    QVERIFY(SummaryReport::write(summary, activity, nullptr));

    const QImage png(VideoFiles::activityChartFile(site(), QStringLiteral("png")));
    QCOMPARE(png.size(), ActivityChart::fileSize());
    const ActivityChart chart(QStringLiteral("site"), activity, summary.spans());
    const QRect area(QPoint(0, 0), ActivityChart::fileSize());
    const QRectF plot = chart.plotArea(area);
    const double slot = plot.width() / activity.bins().size();
    for (int i = 0; i < activity.bins().size(); ++i) {
        for (const bool in : { true, false }) {
            const int count = in ? activity.bins()[i].in : activity.bins()[i].out;
            const QColor colour = in ? ActivityChart::inColor() : ActivityChart::outColor();
            const QRectF bar = chart.barRect(area, i, in);
            QCOMPARE(bar.isEmpty(), count == 0);
            // Just above the axis, where a bar of that bin stands.
            const QPoint probe(static_cast<int>(plot.left() + slot * (i + (in ? 0.3 : 0.7))),
                static_cast<int>(plot.bottom()) - 3);
            QCOMPARE(png.pixelColor(probe) == colour, count > 0);
        }
    }
    // The taller bar is the larger count.
    QVERIFY(chart.barRect(area, 1, true).height() > chart.barRect(area, 0, true).height());

    const QByteArray svg
        = testfiles::read(VideoFiles::activityChartFile(site(), QStringLiteral("svg")));
    QVERIFY(svg.contains("<svg"));
    QVERIFY(svg.contains(">site<"));
}

void TestSummary::badInputs_data()
{
    QTest::addColumn<QString>("name"); // of the folder's only video
    QTest::addColumn<QByteArray>("counts"); // its count file, after the header
    QTest::addColumn<QByteArray>("record"); // the run record's bytes; none if empty
    QTest::addColumn<int>("undated");
    QTest::addColumn<QString>("warning"); // the one expected, empty for none
    QTest::addColumn<QByteArray>("summaryLine"); // with the video's in and out

    const QString dated = QStringLiteral("video_20150612_0930_01.mp4");
    const QByteArray datedLine = "video_20150612_0930_01.mp4;2015-06-12 09:30:00;;;";
    QTest::newRow("a bad line amid good ones")
        << dated
        << QByteArray(
               "100;1;1;1;0;2015-06-12_09:30:01\nno record\n200;1;1;1;0;2015-06-12_09:30:02\n"
               "300;1;1;0;1;2015-06-12_09:30:03\n")
        << QByteArray() << 0 << "video_20150612_0930_01.csv:3: 1 fields where a record has 6"
        << datedLine + "2;1;processed;";
    // Stamped with the time of processing: the name's date did not parse.
    for (const QString &name : { QStringLiteral("video_20240702_1000_02_site_north.mp4"),
             QStringLiteral("video_20240702_1000.mp4") }) {
        QTest::newRow(qPrintable(name))
            << name << QByteArray("100;1;1;1;0;2026-12-09_10:00:00\n") << QByteArray() << 1
            << QString() << name.toUtf8() + ";;;;1;0;processed;";
    }
    QTest::newRow("events in year 1 and 9999")
        << dated << QByteArray("1;1;1;1;0;0001-01-01_00:00:00\n2;1;1;0;1;9999-12-31_23:59:59\n")
        << QByteArray() << 0 << QString() << datedLine + "1;1;processed;";
    QTest::newRow("10^9 frames at 0.001 fps")
        << dated << QByteArray("100;1;1;1;0;2015-06-12_09:30:01\n")
        << runRecord(R"("fps":0.001,"declaredFrames":1e9,"firstFrame":90,"lastFrame":100)") << 0
        << "video_20150612_0930_01_run.json: it describes a recording of more than a year"
        << datedLine + "1;0;processed;";
    QTest::newRow("last frame 10^15")
        << dated << QByteArray("100;1;1;1;0;2015-06-12_09:30:01\n")
        << runRecord(R"("fps":25,"declaredFrames":1000,"firstFrame":90,"lastFrame":1e15)") << 0
        << "video_20150612_0930_01_run.json: its frame numbers lie beyond any video"
        << datedLine + "1;0;processed;";
    QTest::newRow("a run record that is no JSON")
        << dated << QByteArray("100;1;1;1;0;2015-06-12_09:30:01\n") << QByteArray("{ not json") << 0
        << "video_20150612_0930_01_run.json: " << datedLine + "1;0;processed;";
    QTest::newRow("counts beyond 32 bits together")
        << dated
        << QByteArray("1;1;1;2147483647;0;2015-06-12_09:30:01\n"
                      "2;1;1;2147483647;2147483647;2015-06-12_09:30:02\n")
        << QByteArray() << 0 << QString() << datedLine + "4294967294;2147483647;processed;";
    QTest::newRow("a name with ; \" and a line break")
        << "a;b\"c\nd.mp4" << QByteArray("1;1;1;1;0;2026-12-09_10:00:00\n") << QByteArray() << 1
        << QString() << QByteArray("\"a;b\"\"c\nd.mp4\";;;;1;0;processed;");
}

void TestSummary::badInputs()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, counts);
    QFETCH(QByteArray, record);
    QFETCH(int, undated);
    QFETCH(QString, warning);
    QFETCH(QByteArray, summaryLine);

    const QString folder = dir->filePath(QStringLiteral("bad"));
    const QString video = folder + QLatin1Char('/') + name;
    QVERIFY(testfiles::write(video, "not a video"));
    QVERIFY(
        testfiles::write(VideoFiles::resultFile(video), "Frame;X;Y;In;Out;Timestamp\n" + counts));
    if (!record.isEmpty())
        QVERIFY(testfiles::write(VideoFiles::runRecordFile(video), record));

    const FolderSummary summary = FolderSummary::read(folder);
    QCOMPARE(summary.undatedEvents(), undated);
    QCOMPARE(summary.warnings().size(), warning.isEmpty() ? 0 : 1);
    // Naming the file once.
    if (!warning.isEmpty())
        QVERIFY2(summary.warnings().first().contains(warning)
                && summary.warnings().first().count(folder) == 1,
            qPrintable(summary.warnings().first()));
    QCOMPARE(summary.summaryCsv(),
        "Video;Recording start;Duration;Frames processed;In;Out;Status;Method;Reviewed in;"
        "Reviewed out;Review status\n"
            + summaryLine + ";;;none\n");

    // Every width: a bounded number of bins, and every event in a bin, on
    // the undated line or counted outside the bins.
    for (const auto width :
        { ActivityBins::Width::TenMinutes, ActivityBins::Width::Hour, ActivityBins::Width::Day }) {
        const ActivityBins activity = ActivityBins::compute(summary, width);
        QVERIFY(activity.bins().size() <= ActivityBins::kMaxBins);
        qint64 binned[2] = { activity.undatedIn() + activity.outsideIn(),
            activity.undatedOut() + activity.outsideOut() };
        for (const ActivityBins::Bin &bin : activity.bins()) {
            binned[0] += bin.in;
            binned[1] += bin.out;
        }
        QCOMPARE(binned[0], summary.totalIn());
        QCOMPARE(binned[1], summary.totalOut());
        QCOMPARE(activity.undatedEvents(), undated);
    }
}

void TestSummary::aPipeForCountsIsNamed()
{
    const QString video = dir->filePath(QStringLiteral("pipe/a.mp4"));
    QVERIFY(testfiles::write(video, "not a video"));
    QVERIFY(QDir().mkpath(QFileInfo(VideoFiles::resultFile(video)).path()));
    QVERIFY(::mkfifo(QFile::encodeName(VideoFiles::resultFile(video)).constData(), 0600) == 0);

    // Read at once, without waiting for a writer.
    const FolderSummary summary = FolderSummary::read(QFileInfo(video).path());
    QCOMPARE(summary.warnings().size(), 1);
    QVERIFY2(summary.warnings().first().contains(QStringLiteral("it is a pipe")),
        qPrintable(summary.warnings().first()));
    QVERIFY2(summary.summaryCsv().endsWith("a.mp4;;;;;;not processed;;;;none\n"),
        summary.summaryCsv().constData());
}

void TestSummary::batchWritesTheSameFiles()
{
    // Whatever platform the environment names, the summary needs no display.
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    qputenv("QT_QPA_PLATFORM", "xcb");
    const QByteArray display = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    const Outcome batch = runBatch(
        { QStringLiteral("--summary"), site(), QStringLiteral("--bin"), QStringLiteral("10m") });
    qputenv("QT_QPA_PLATFORM", platform);
    qputenv("DISPLAY", display);
    QVERIFY2(batch.status == 0, batch.err.constData());
    QCOMPARE(batch.out,
        QByteArray("5 videos (3 processed, 1 partial, 1 not processed): 6 in, 5 out\n"
                   "first event 2015-06-12 09:31:10, last event 2015-06-12 12:31:00\n"
                   "4 events without a time stamp\n"));

    const FolderSummary summary = FolderSummary::read(site());
    QCOMPARE(testfiles::read(VideoFiles::summaryFile(site())), summary.summaryCsv());
    QCOMPARE(testfiles::read(VideoFiles::activityFile(site())),
        ActivityBins::compute(summary, ActivityBins::Width::TenMinutes).csv());
    QCOMPARE(QImage(VideoFiles::activityChartFile(site(), QStringLiteral("png"))).size(),
        ActivityChart::fileSize());
    QVERIFY(QFileInfo(VideoFiles::activityChartFile(site(), QStringLiteral("svg"))).size() > 0);
}

void TestSummary::batchRefuses_data()
{
    QTest::addColumn<QString>("folder"); // relative to the temporary folder
    QTest::addColumn<QString>("bin");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");

    QTest::newRow("no count file") << "bare"
                                   << "1h" << 1 << "no count file";
    QTest::newRow("no folder") << "missing"
                               << "1h" << 1 << "no such folder";
    QTest::newRow("unknown bin") << "site"
                                 << "2h" << 2 << "Unknown bin";
}

void TestSummary::batchRefuses()
{
    QFETCH(QString, folder);
    QFETCH(QString, bin);
    QFETCH(int, status);
    QFETCH(QString, message);

    // A folder with a video but no result of it.
    QVERIFY(testfiles::write(dir->filePath(QStringLiteral("bare/a.mp4")), "not a video"));
    const Outcome batch = runBatch(
        { QStringLiteral("--summary"), dir->filePath(folder), QStringLiteral("--bin"), bin });
    QCOMPARE(batch.status, status);
    QVERIFY2(batch.err.contains(message.toUtf8()), batch.err.constData());
    QVERIFY(batch.out.isEmpty());
    QVERIFY(!QFileInfo::exists(VideoFiles::summaryFile(dir->filePath(folder))));
}

void TestSummary::batchFailsOnAChartItCannotWrite()
{
    const QString svg = VideoFiles::activityChartFile(site(), QStringLiteral("svg"));
    QVERIFY(QDir().mkpath(svg));
    const Outcome batch = runBatch({ QStringLiteral("--summary"), site() });
    QCOMPARE(batch.status, 1);
    QVERIFY2(batch.err.contains("kestrin-batch: error: cannot replace " + QFile::encodeName(svg)),
        batch.err.constData());
    QVERIFY(QFileInfo(svg).isDir());
    QVERIFY(!QFileInfo::exists(svg + QStringLiteral(".tmp")));
}

QTEST_MAIN(TestSummary)
#include "test_summary.moc"
