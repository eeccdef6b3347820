#include <algorithm>
#include <cmath>
#include <limits>

#include <QTest>

#include "batchoptions.h"
#include "batchprogress.h"
#include "batchrun.h"

Q_DECLARE_METATYPE(BatchOptions::Action)
Q_DECLARE_METATYPE(ActivityBins::Width)

class TestBatchOptions : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void helpHidesTheChildOption();
    void shardAndDemo_data();
    void shardAndDemo();
    void shardsCoverTheFolderOnce();
    void shardFollowsNameOrder();
    void summaryAndTracks_data();
    void summaryAndTracks();
    void progressLine_data();
    void progressLine();
    void duration_data();
    void duration();
};

void TestBatchOptions::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<BatchOptions::Action>("action");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("jobs");
    QTest::addColumn<bool>("quiet");
    QTest::addColumn<QString>("video");
    QTest::addColumn<QString>("boxSource");

    using A = BatchOptions::Action;
    QTest::newRow("video alone: one video, one run")
        << QStringList { "v.mp4" } << A::Run << int(ProcessRun::One) << 0 << false << "v.mp4"
        << "";
    QTest::newRow("everything") << QStringList { "--mode", "unprocessed", "--jobs", "3", "--quiet",
        "v.mp4" } << A::Run << int(ProcessRun::Unprocessed)
                                << 3 << true << "v.mp4"
                                << "";
    QTest::newRow("mode all, = form") << QStringList { "--mode=all", "v.mp4" } << A::Run
                                      << int(ProcessRun::All) << 0 << false << "v.mp4"
                                      << "";
    QTest::newRow("video after --") << QStringList { "--quiet", "--", "-odd.mp4" } << A::Run
                                    << int(ProcessRun::One) << 0 << true << "-odd.mp4"
                                    << "";
    QTest::newRow("child run") << QStringList { "--mode", "one", "--boxes-from", "b.mp4", "--",
        "v.mp4" } << A::Run << int(ProcessRun::One)
                               << 0 << false << "v.mp4"
                               << "b.mp4";
    QTest::newRow("help") << QStringList { "--help" } << A::Help << int(ProcessRun::One) << 0
                          << false << ""
                          << "";
    QTest::newRow("version") << QStringList { "--version" } << A::Version << int(ProcessRun::One)
                             << 0 << false << ""
                             << "";
    QTest::newRow("unknown boxes") << QStringList { "--boxes", "mine", "v.mp4" } << A::UsageError
                                   << int(ProcessRun::One) << 0 << false << ""
                                   << "";
    QTest::newRow("no video") << QStringList { "--quiet" } << A::UsageError << int(ProcessRun::One)
                              << 0 << true << ""
                              << "";
    QTest::newRow("empty video") << QStringList { "" } << A::UsageError << int(ProcessRun::One) << 0
                                 << false << ""
                                 << "";
    QTest::newRow("two videos") << QStringList { "a.mp4", "b.mp4" } << A::UsageError
                                << int(ProcessRun::One) << 0 << false << ""
                                << "";
    QTest::newRow("unknown mode") << QStringList { "--mode", "ALL", "v.mp4" } << A::UsageError
                                  << int(ProcessRun::One) << 0 << false << ""
                                  << "";
    QTest::newRow("mode without value") << QStringList { "v.mp4", "--mode" } << A::UsageError
                                        << int(ProcessRun::One) << 0 << false << ""
                                        << "";
    QTest::newRow("jobs 0") << QStringList { "--jobs", "0", "v.mp4" } << A::UsageError
                            << int(ProcessRun::One) << 0 << false << ""
                            << "";
    QTest::newRow("jobs negative") << QStringList { "--jobs=-2", "v.mp4" } << A::UsageError
                                   << int(ProcessRun::One) << 0 << false << ""
                                   << "";
    QTest::newRow("jobs not a number") << QStringList { "--jobs", "many", "v.mp4" } << A::UsageError
                                       << int(ProcessRun::One) << 0 << false << ""
                                       << "";
    QTest::newRow("unknown option") << QStringList { "--fast", "v.mp4" } << A::UsageError
                                    << int(ProcessRun::One) << 0 << false << ""
                                    << "";
    QTest::newRow("empty box source") << QStringList { "--boxes-from=", "v.mp4" } << A::UsageError
                                      << int(ProcessRun::One) << 0 << false << ""
                                      << "";
}

void TestBatchOptions::parse()
{
    QFETCH(QStringList, arguments);
    QFETCH(BatchOptions::Action, action);
    QFETCH(int, mode);
    QFETCH(int, jobs);
    QFETCH(bool, quiet);
    QFETCH(QString, video);
    QFETCH(QString, boxSource);

    const BatchOptions options
        = BatchOptions::parse(QStringList { QStringLiteral("kestrin-batch") } + arguments);
    QCOMPARE(options.action, action);
    if (action == BatchOptions::Action::UsageError) {
        // Says what is wrong, then how to call.
        QVERIFY(options.text.contains(QLatin1String("Usage: kestrin-batch")));
        QVERIFY(!options.text.startsWith(QLatin1String("Usage")));
        return;
    }
    if (action != BatchOptions::Action::Run) {
        QVERIFY(!options.text.isEmpty());
        return;
    }
    QCOMPARE(int(options.mode), mode);
    QCOMPARE(options.jobs, jobs);
    QCOMPARE(options.quiet, quiet);
    QCOMPARE(options.video, video);
    QCOMPARE(options.boxSource, boxSource);
}

void TestBatchOptions::helpHidesTheChildOption()
{
    const BatchOptions options = BatchOptions::parse({ "kestrin-batch", "--help" });
    for (const char *shown : { "--mode", "--jobs", "--boxes", "--shard", "--make-demo", "--quiet",
             "VIDEO", "Exit status" })
        QVERIFY2(options.text.contains(QLatin1String(shown)), shown);
    QVERIFY(!options.text.contains(QLatin1String("boxes-from")));
}

void TestBatchOptions::shardAndDemo_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<BatchOptions::Action>("action");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("demoDir");

    using A = BatchOptions::Action;
    QTest::newRow("first of four")
        << QStringList { "--mode", "all", "--shard", "0/4", "v.mp4" } << A::Run << 0 << 4 << "";
    QTest::newRow("last of four, unprocessed")
        << QStringList { "--mode", "unprocessed", "--shard=3/4", "v.mp4" } << A::Run << 3 << 4
        << "";
    QTest::newRow("one shard") << QStringList { "--mode", "all", "--shard", "0/1", "v.mp4" }
                               << A::Run << 0 << 1 << "";
    QTest::newRow("with jobs") << QStringList { "--mode", "all", "--jobs", "2", "--shard", "1/2",
        "v.mp4" } << A::Run << 1
                               << 2 << "";
    QTest::newRow("no shard") << QStringList { "--mode", "all", "v.mp4" } << A::Run << 0 << 0 << "";
    QTest::newRow("index past the end")
        << QStringList { "--mode", "all", "--shard", "4/4", "v.mp4" } << A::UsageError << 0 << 0
        << "";
    QTest::newRow("no shards") << QStringList { "--mode", "all", "--shard", "0/0", "v.mp4" }
                               << A::UsageError << 0 << 0 << "";
    QTest::newRow("negative index") << QStringList { "--mode", "all", "--shard=-1/4", "v.mp4" }
                                    << A::UsageError << 0 << 0 << "";
    QTest::newRow("signed") << QStringList { "--mode", "all", "--shard", "+1/4", "v.mp4" }
                            << A::UsageError << 0 << 0 << "";
    QTest::newRow("blank") << QStringList { "--mode", "all", "--shard", " 1/4", "v.mp4" }
                           << A::UsageError << 0 << 0 << "";
    QTest::newRow("no count") << QStringList { "--mode", "all", "--shard", "1", "v.mp4" }
                              << A::UsageError << 0 << 0 << "";
    QTest::newRow("three parts") << QStringList { "--mode", "all", "--shard", "1/2/3", "v.mp4" }
                                 << A::UsageError << 0 << 0 << "";
    QTest::newRow("too large") << QStringList { "--mode", "all", "--shard", "1/99999999999",
        "v.mp4" } << A::UsageError
                               << 0 << 0 << "";
    QTest::newRow("mode one") << QStringList { "--shard", "0/2", "v.mp4" } << A::UsageError << 0
                              << 0 << "";
    QTest::newRow("demo") << QStringList { "--make-demo", "d" } << A::MakeDemo << 0 << 0 << "d";
    QTest::newRow("demo and a video")
        << QStringList { "--make-demo", "d", "v.mp4" } << A::UsageError << 0 << 0 << "";
    QTest::newRow("demo without folder")
        << QStringList { "--make-demo=" } << A::UsageError << 0 << 0 << "";
}

void TestBatchOptions::shardAndDemo()
{
    QFETCH(QStringList, arguments);
    QFETCH(BatchOptions::Action, action);
    QFETCH(int, index);
    QFETCH(int, count);
    QFETCH(QString, demoDir);

    const BatchOptions options
        = BatchOptions::parse(QStringList { QStringLiteral("kestrin-batch") } + arguments);
    QCOMPARE(options.action, action);
    if (action == BatchOptions::Action::UsageError) {
        QVERIFY(options.text.contains(QLatin1String("Usage: kestrin-batch")));
        return;
    }
    QCOMPARE(options.shardIndex, index);
    QCOMPARE(options.shardCount, count);
    QCOMPARE(options.demoDir, demoDir);
}

void TestBatchOptions::shardsCoverTheFolderOnce()
{
    // Every way of cutting folders of 0 to 9 videos into 1 to 10 shards.
    for (int size = 0; size < 10; ++size) {
        QStringList videos;
        for (int i = 0; i < size; ++i)
            videos << QStringLiteral("/d/v%1.mp4").arg((i * 7) % 10);
        for (int count = 1; count <= 10; ++count) {
            QStringList all;
            for (int index = 0; index < count; ++index) {
                const QStringList part = BatchRun::shard(videos, index, count);
                // Shares differ by one video at most.
                QVERIFY(part.size() == size / count || part.size() == size / count + 1);
                all += part;
            }
            QCOMPARE(all.size(), videos.size());
            std::sort(all.begin(), all.end());
            QStringList expected = videos;
            std::sort(expected.begin(), expected.end());
            QCOMPARE(all, expected);
        }
    }
}

void TestBatchOptions::shardFollowsNameOrder()
{
    // Listed in the file system's order; shared out in name order whatever
    // the folders are called.
    const QStringList listed { "/z/c.mp4", "/a/e.mp4", "/y/a.mp4", "/b/d.mp4", "/x/b.mp4" };
    QCOMPARE(BatchRun::shard(listed, 0, 2), (QStringList { "/y/a.mp4", "/z/c.mp4", "/a/e.mp4" }));
    QCOMPARE(BatchRun::shard(listed, 1, 2), (QStringList { "/x/b.mp4", "/b/d.mp4" }));
    QCOMPARE(BatchRun::shard(listed, 4, 5), QStringList { "/a/e.mp4" });
    QVERIFY(BatchRun::shard(listed, 5, 6).isEmpty());
}

void TestBatchOptions::summaryAndTracks_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<BatchOptions::Action>("action");
    QTest::addColumn<QString>("dir");
    QTest::addColumn<ActivityBins::Width>("bin");
    QTest::addColumn<bool>("tracks");

    using A = BatchOptions::Action;
    using W = ActivityBins::Width;
    QTest::newRow("summary, hours by default")
        << QStringList { "--summary", "site" } << A::Summary << "site" << W::Hour << false;
    QTest::newRow("summary by 10 minutes") << QStringList { "--summary", "site", "--bin", "10m" }
                                           << A::Summary << "site" << W::TenMinutes << false;
    QTest::newRow("summary by day, = form")
        << QStringList { "--bin=1d", "--summary=site" } << A::Summary << "site" << W::Day << false;
    QTest::newRow("unknown bin") << QStringList { "--summary", "site", "--bin", "1w" }
                                 << A::UsageError << "" << W::Hour << false;
    QTest::newRow("summary takes no video")
        << QStringList { "--summary", "site", "v.mp4" } << A::UsageError << "" << W::Hour << false;
    QTest::newRow("summary processes nothing") << QStringList { "--summary", "site", "--tracks" }
                                               << A::UsageError << "" << W::Hour << false;
    QTest::newRow("bin without summary")
        << QStringList { "--bin", "1h", "v.mp4" } << A::UsageError << "" << W::Hour << false;
    QTest::newRow("tracks") << QStringList { "--tracks", "v.mp4" } << A::Run << "" << W::Hour
                            << true;
    QTest::newRow("no tracks by default")
        << QStringList { "v.mp4" } << A::Run << "" << W::Hour << false;
}

void TestBatchOptions::summaryAndTracks()
{
    QFETCH(QStringList, arguments);
    QFETCH(BatchOptions::Action, action);
    QFETCH(QString, dir);
    QFETCH(ActivityBins::Width, bin);
    QFETCH(bool, tracks);

    const QStringList line = QStringList { "kestrin-batch" } + arguments;
    const BatchOptions options = BatchOptions::parse(line);
    QCOMPARE(options.action, action);
    QCOMPARE(options.summaryDir, dir);
    QCOMPARE(options.bin, bin);
    QCOMPARE(options.tracks, tracks);
    // The program makes its GUI application for exactly these.
    QCOMPARE(BatchOptions::wantsSummary(line), arguments.join(' ').contains("--summary"));
    QVERIFY(!BatchOptions::wantsSummary({ "kestrin-batch", "--", "--summary" }));
}

void TestBatchOptions::progressLine_data()
{
    QTest::addColumn<double>("frame");
    QTest::addColumn<double>("frames");
    QTest::addColumn<double>("fps");
    QTest::addColumn<QString>("expected");

    QTest::newRow("9000 frames to go at 100 fps")
        << 1000.0 << 10000.0 << 100.0 << "video 2 of 3, frame 1000 of 10000, 100.0 fps, 1:30 left";
    QTest::newRow("count unknown")
        << 1000.0 << 0.0 << 250.5 << "video 2 of 3, frame 1000, 250.5 fps";
    QTest::newRow("past the claimed count")
        << 10005.0 << 10000.0 << 90.0 << "video 2 of 3, frame 10005, 90.0 fps";
    QTest::newRow("no speed yet") << 90.0 << 10000.0 << 0.0
                                  << "video 2 of 3, frame 90 of 10000, 0.0 fps";
}

void TestBatchOptions::progressLine()
{
    QFETCH(double, frame);
    QFETCH(double, frames);
    QFETCH(double, fps);
    QFETCH(QString, expected);
    QCOMPARE(BatchProgress::line(2, 3, frame, frames, fps), expected);
}

void TestBatchOptions::duration_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("expected");

    QTest::newRow("zero") << 0.0 << "0:00";
    QTest::newRow("rounded up to a minute") << 59.6 << "1:00";
    QTest::newRow("hours") << 3725.0 << "1:02:05";
    QTest::newRow("negative") << -5.0 << "0:00";
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << "0:00";
    QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << "0:00";
}

void TestBatchOptions::duration()
{
    QFETCH(double, seconds);
    QFETCH(QString, expected);
    QCOMPARE(BatchProgress::duration(seconds), expected);
}

QTEST_GUILESS_MAIN(TestBatchOptions)
#include "test_batchoptions.moc"
