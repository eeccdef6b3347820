#include <algorithm>
#include <csignal>
#include <set>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "report/foldersummary.h"
#include "report/reviewsample.h"
#include "testfiles.h"
#include "testvideo.h"
#include "video/clipdecoder.h"
#include "video/framereader.h"
#include "zones/reviewfile.h"
#include "zones/runrecord.h"
#include "zones/videofiles.h"
#include "zones/videoreview.h"
#include <sys/wait.h>
#include <unistd.h>

using Decision = ReviewFile::Decision;

namespace {

const QByteArray countHeader = "Frame;X;Y;In;Out;Timestamp\n";

// "frame x y in out" per event, ';'-separated lines of a count file.
QByteArray counts(const QStringList &events)
{
    QByteArray bytes = countHeader;
    for (const QString &e : events) {
        const QStringList f = e.split(' ');
        bytes += QStringLiteral("%1;%2;%3;%4;%5;2015-06-12_09:30:0%6\n")
                     .arg(f[0], f[1], f[2], f[3], f[4])
                     .arg(f[0].toInt() % 10)
                     .toUtf8();
    }
    return bytes;
}

// 'c', 'r' or '.' per event.
QString decisions(const VideoReview &review)
{
    QString text;
    for (int i = 0; i < review.events().size(); ++i) {
        const Decision d = review.decision(i);
        text += d == Decision::Confirmed ? 'c' : d == Decision::Rejected ? 'r' : '.';
    }
    return text;
}

} // namespace

class TestReview : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void roundTrip_data();
    void roundTrip();
    void binding_data();
    void binding();
    void refusedPaths_data();
    void refusedPaths();
    void completeOrAbsentWhenKilled();
    void summaryAndRecord();
    void sampleFromSeed();
    void wilson_data();
    void wilson();
    void clipShowsTheEventFrames_data();
    void clipShowsTheEventFrames();

private:
    QString video() const { return dir->filePath(QStringLiteral("video_20150612_0930_01.mp4")); }
    std::unique_ptr<QTemporaryDir> dir;
};

void TestReview::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    QVERIFY(testfiles::write(video(), "not a video"));
}

void TestReview::roundTrip_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("valid");
    const QByteArray head
        = "# counts sha256=" + QByteArray(64, 'a') + "\nFrame;X;Y;In;Out;Timestamp;Decision\n";
    QTest::newRow("no decisions") << head << true;
    QTest::newRow("every decision") << head
            + "90;1;2;1;0;2015-06-12_09:30:01;confirmed\n"
              "1.23457e+06;3;4;0;1;x;rejected\n7;5;6;1;1;;added\n"
                                    << true;
    QTest::newRow("unknown decision") << head + "90;1;2;1;0;t;maybe\n" << false;
    QTest::newRow("no decision field") << head + "90;1;2;1;0;t\n" << false;
    QTest::newRow("frame not a number") << head + "x;1;2;1;0;t;confirmed\n" << false;
    QTest::newRow("short checksum")
        << QByteArray("# counts sha256=abc\nFrame;X;Y;In;Out;Timestamp;Decision\n") << false;
    QTest::newRow("count file header")
        << "# counts sha256=" + QByteArray(64, 'a') + '\n' + countHeader << false;
    QTest::newRow("a count file") << counts({ "90 1 2 1 0" }) << false;
}

void TestReview::roundTrip()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, valid);
    ReviewFile review;
    QString error;
    QCOMPARE(ReviewFile::fromBytes(bytes, review, &error), valid);
    if (valid) {
        QCOMPARE(review.toBytes(), bytes);
        const QString path = dir->filePath(QStringLiteral("r.csv"));
        QVERIFY2(review.save(path, &error), qPrintable(error));
        ReviewFile again;
        QVERIFY2(ReviewFile::load(path, again, &error), qPrintable(error));
        QCOMPARE(again.toBytes(), bytes);
    } else {
        QVERIFY(error.startsWith(QStringLiteral("line ")));
    }
}

void TestReview::binding_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("decided"); // per event of `before`
    QTest::addColumn<QStringList>("after"); // the next run's counts
    QTest::addColumn<bool>("stale");
    QTest::addColumn<QString>("carried");

    const QStringList three { "90 10 10 1 0", "95 20 20 0 1", "99 30 30 1 1" };
    QTest::newRow("same counts") << three << QStringLiteral("cr.") << three << false
                                 << QStringLiteral("cr.");
    QTest::newRow("new run, same events")
        << three << QStringLiteral("cr.")
        << QStringList { "90 10 10 1 0", "95 20 20 0 1", "99 30 30 1 1", "120 1 1 1 0" } << true
        << QStringLiteral("cr..");
    QTest::newRow("event moved") << three << QStringLiteral("crc")
                                 << QStringList { "90 10 11 1 0", "95 20 20 0 1", "99 30 30 1 1" }
                                 << true << QStringLiteral(".rc");
    QTest::newRow("event dropped")
        << three << QStringLiteral("crc") << QStringList { "95 20 20 0 1", "99 30 30 1 1" } << true
        << QStringLiteral("rc");
    QTest::newRow("same place twice")
        << QStringList { "90 5 5 1 0", "90 5 5 1 0" } << QStringLiteral("rc")
        << QStringList { "80 1 1 1 0", "90 5 5 1 0", "90 5 5 1 0" } << true
        << QStringLiteral(".rc");
}

void TestReview::binding()
{
    QFETCH(QStringList, before);
    QFETCH(QString, decided);
    QFETCH(QStringList, after);
    QFETCH(bool, stale);
    QFETCH(QString, carried);

    QVERIFY(testfiles::write(VideoFiles::resultFile(video()), counts(before)));
    VideoReview review;
    QString error;
    QVERIFY2(review.open(video(), &error), qPrintable(error));
    QCOMPARE(review.binding(), VideoReview::Binding::Fresh);
    for (int i = 0; i < decided.size(); ++i) {
        if (decided[i] != '.')
            QVERIFY2(review.decide(
                         i, decided[i] == 'c' ? Decision::Confirmed : Decision::Rejected, &error),
                qPrintable(error));
    }
    Result missed;
    missed.frame = 97;
    missed.x = 40;
    missed.in = 1;
    QVERIFY(review.addEvent(missed, &error));
    const QByteArray countBytes = counts(after);
    QVERIFY(testfiles::write(VideoFiles::resultFile(video()), countBytes));

    VideoReview next;
    QVERIFY(next.open(video(), &error));
    QCOMPARE(next.binding(), stale ? VideoReview::Binding::Stale : VideoReview::Binding::Bound);
    if (stale) {
        QCOMPARE(decisions(next), QString(after.size(), '.'));
        QCOMPARE(next.tally().status, VideoReview::Status::None);
        QVERIFY(!next.decide(0, Decision::Confirmed, &error));
        QVERIFY(next.carryOver(&error));
    }
    QCOMPARE(decisions(next), carried);
    QCOMPARE(next.added().size(), 1);
    QCOMPARE(next.added()[0].x, 40);
    // Bound to the new counts from now on, which are never changed.
    VideoReview reopened;
    QVERIFY(reopened.open(video(), &error));
    QCOMPARE(reopened.binding(), VideoReview::Binding::Bound);
    QCOMPARE(decisions(reopened), carried);
    QVERIFY(reopened.startAgain(&error));
    QCOMPARE(decisions(reopened), QString(after.size(), '.'));
    QVERIFY(reopened.added().isEmpty());
    QCOMPARE(testfiles::read(VideoFiles::resultFile(video())), countBytes);
}

void TestReview::refusedPaths_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("symbolic link") << "link";
    QTest::newRow("directory") << "dir";
}

void TestReview::refusedPaths()
{
    QFETCH(QString, kind);
    QVERIFY(testfiles::write(VideoFiles::resultFile(video()), counts({ "90 1 1 1 0" })));
    const QString reviewPath = VideoFiles::reviewFile(video());
    const QString target = dir->filePath(QStringLiteral("elsewhere.csv"));
    QVERIFY(testfiles::write(target, "keep"));
    if (kind == QLatin1String("link"))
        QVERIFY(QFile::link(target, reviewPath));
    else
        QVERIFY(QDir().mkpath(reviewPath));

    VideoReview review;
    QString error;
    QVERIFY(review.open(video(), &error));
    QCOMPARE(review.binding(), VideoReview::Binding::Unreadable);
    QVERIFY(!review.startAgain(&error));
    QVERIFY2(error.startsWith(reviewPath), qPrintable(error));
    QCOMPARE(review.decision(0), Decision::Unreviewed);
    QCOMPARE(testfiles::read(target), QByteArray("keep"));
}

// A child saves two different reviews in turn until killed: whenever it
// dies, the file holds one of them whole.
void TestReview::completeOrAbsentWhenKilled()
{
    QVERIFY(testfiles::write(VideoFiles::resultFile(video()), counts({ "90 1 1 1 0" })));
    ReviewFile a;
    a.countsSha256 = QByteArray(64, 'a');
    ReviewFile b = a;
    for (int i = 0; i < 20000; ++i)
        b.entries.append(
            { Result { double(i), i, i, 1, 0, QStringLiteral("t") }, Decision::Rejected });
    const QString path = VideoFiles::reviewFile(video());
    QString error;
    QVERIFY(a.save(path, &error));
    const std::set<QByteArray> whole { a.toBytes(), b.toBytes() };

    for (const int delayMs : { 1, 3, 7, 15, 30 }) {
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            for (int i = 0;; ++i)
                (i % 2 ? a : b).save(path, nullptr);
        }
        usleep(static_cast<useconds_t>(delayMs * 1000));
        QCOMPARE(kill(child, SIGKILL), 0);
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status));
        QVERIFY2(whole.count(testfiles::read(path)) == 1, qPrintable(QString::number(delayMs)));
    }
}

void TestReview::summaryAndRecord()
{
    QVERIFY(testfiles::write(
        VideoFiles::resultFile(video()), counts({ "90 1 1 1 0", "95 2 2 0 1", "99 3 3 1 0" })));
    RunRecord record;
    record.method = QStringLiteral("robust");
    record.in = 2;
    record.out = 1;
    QString error;
    QVERIFY(record.save(VideoFiles::runRecordFile(video()), &error));
    auto row = [this] { return FolderSummary::read(dir->path()).rows().value(0); };
    QCOMPARE(row().review.status, VideoReview::Status::None);
    QVERIFY(
        FolderSummary::read(dir->path()).summaryCsv().endsWith(";2;1;processed;robust;;;none\n"));

    VideoReview review;
    QVERIFY(review.open(video(), &error));
    QVERIFY(review.decide(0, Decision::Confirmed, &error));
    QVERIFY(review.decide(1, Decision::Rejected, &error));
    QVERIFY(FolderSummary::read(dir->path()).summaryCsv().endsWith(";robust;1;0;partial\n"));
    QVERIFY(RunRecord::load(VideoFiles::runRecordFile(video()), record, &error));
    QCOMPARE(record.reviewStatus, QStringLiteral("partial"));

    Result missed { 97, 4, 4, 0, 1, QStringLiteral("2015-06-12_09:30:04") };
    QVERIFY(review.addEvent(missed, &error));
    QVERIFY(review.decide(2, Decision::Confirmed, &error));
    const FolderSummary summary = FolderSummary::read(dir->path());
    QVERIFY(summary.summaryCsv().endsWith(";robust;2;1;complete\n"));
    QCOMPARE(summary.reviewedOnly().totalIn(), qint64(2)); // the events' sums, not the rows'
    QCOMPARE(summary.reviewedOnly().events().size(), 3);
    QVERIFY(RunRecord::load(VideoFiles::runRecordFile(video()), record, &error));
    QCOMPARE(record.reviewStatus, QStringLiteral("complete"));
    QCOMPARE(record.reviewedIn, 2);
    QCOMPARE(record.reviewedOut, 1);
}

void TestReview::sampleFromSeed()
{
    // Selection sampling: every subset size right, reproducible, seed-dependent.
    const QVector<int> picked = ReviewSample::select(20000, 100, 42);
    QCOMPARE(picked.size(), 100);
    QVERIFY(std::is_sorted(picked.begin(), picked.end()));
    QCOMPARE(ReviewSample::select(20000, 100, 42), picked);
    QVERIFY(ReviewSample::select(20000, 100, 43) != picked);
    QCOMPARE(ReviewSample::select(5, 100, 42), (QVector<int> { 0, 1, 2, 3, 4 }));
    // Spread over the whole range, not bunched at its start.
    QVERIFY(picked.first() < 2000 && picked.last() > 18000);

    // Across a folder: videos in name order, events in file order.
    const QString second = dir->filePath(QStringLiteral("b.mp4"));
    QVERIFY(testfiles::write(second, "x"));
    QVERIFY(
        testfiles::write(VideoFiles::resultFile(second), counts({ "200 9 9 1 0", "201 9 9 1 0" })));
    QVERIFY(testfiles::write(
        VideoFiles::resultFile(video()), counts({ "90 1 1 1 0", "95 2 2 0 1", "99 3 3 1 0" })));
    const ReviewSample sample = ReviewSample::draw(dir->path(), 5, 7);
    QCOMPARE(sample.total, 5);
    QCOMPARE(sample.picks[0].video, QStringLiteral("b.mp4"));
    QCOMPARE(sample.picks[2].event.frame, 90.0);
    QString error;
    QVERIFY(sample.save(dir->path(), &error));
    ReviewSample loaded;
    QVERIFY2(ReviewSample::load(dir->path(), loaded, &error), qPrintable(error));
    QCOMPARE(loaded.seed, 7u);
    QCOMPARE(loaded.picks.size(), 5);

    VideoReview review;
    QVERIFY(review.open(video(), &error));
    QVERIFY(review.decide(0, Decision::Confirmed, &error));
    QVERIFY(review.decide(1, Decision::Rejected, &error));
    QVERIFY(review.decide(2, Decision::Confirmed, &error));
    const ReviewSample::Precision p = FolderSummary::read(dir->path()).samplePrecision().value();
    QCOMPARE(p.confirmed, 2);
    QCOMPARE(p.rejected, 1);
    QCOMPARE(p.unreviewed, 2);
    QCOMPARE(p.value, 2.0 / 3.0);
}

void TestReview::wilson_data()
{
    // Worked by hand from the formula in reviewsample.h.
    QTest::addColumn<int>("confirmed");
    QTest::addColumn<int>("decided");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::newRow("90 of 100") << 90 << 100 << 0.8256 << 0.9448;
    QTest::newRow("18 of 20") << 18 << 20 << 0.6990 << 0.9721;
    QTest::newRow("all of 10") << 10 << 10 << 0.7225 << 1.0;
    QTest::newRow("none of 10") << 0 << 10 << 0.0 << 0.2775;
    QTest::newRow("nothing decided") << 0 << 0 << 0.0 << 1.0;
}

void TestReview::wilson()
{
    QFETCH(int, confirmed);
    QFETCH(int, decided);
    QFETCH(double, low);
    QFETCH(double, high);
    double l = -1;
    double h = -1;
    ReviewSample::wilson(confirmed, decided, l, h);
    QVERIFY2(std::abs(l - low) < 5e-5, qPrintable(QString::number(l, 'f', 6)));
    QVERIFY2(std::abs(h - high) < 5e-5, qPrintable(QString::number(h, 'f', 6)));
}

void TestReview::clipShowsTheEventFrames_data()
{
    QTest::addColumn<QVector<double>>("events");
    QTest::addColumn<bool>("eventFramesFirst"); // each event's frame asked for before the clips
    // The second clip begins during the first and ends after it: read on, not sought.
    QTest::newRow("clips overlapping") << QVector<double> { 100, 120 } << false;
    QTest::newRow("first frame") << QVector<double> { 0 } << true;
    QTest::newRow("last frame") << QVector<double> { 199 } << true;
    QTest::newRow("next event frame read on") << QVector<double> { 100, 111, 130 } << true;
    QTest::newRow("next behind, sought") << QVector<double> { 150, 60 } << true;
    QTest::newRow("next far ahead, sought") << QVector<double> { 20, 180 } << true;
}

void TestReview::clipShowsTheEventFrames()
{
    QFETCH(QVector<double>, events);
    QFETCH(bool, eventFramesFirst);
    const QString path = dir->filePath(QStringLiteral("clip.mp4"));
    const cv::Size size(320, 240);
    QVERIFY(testvideo::write(path, "avc1", 50, size, 200, [](int index, cv::Mat &frame) {
        frame = testvideo::background(frame.size());
        testvideo::paintIndex(frame, index);
        cv::circle(frame, cv::Point(40 + index, 150), 6, cv::Scalar(0, 0, 255), cv::FILLED);
    }));
    // Near the frame's right edge: the crop stays inside the frame.
    const ClipDecoder::Request near
        = ClipDecoder::around(1, path, size, 50, 120, cv::Point(300, 30));
    QCOMPARE(near.crop, cv::Rect(160, 0, 160, 160));
    QCOMPARE(near.first, 70.0);
    QCOMPARE(near.last, 145.0);
    QCOMPARE(near.stride, 3); // 20 frames a second at most

    QVector<ClipDecoder::Request> clips;
    QVector<ClipDecoder::Request> requests;
    for (int i = 0; i < events.size(); ++i) {
        clips << ClipDecoder::around(i, path, size, 50, events[i], cv::Point(300 - 2 * i, 30 + i));
        if (eventFramesFirst)
            requests << ClipDecoder::eventFrameOf(clips.last());
    }
    requests += clips;
    ClipDecoder decoder;
    QSignalSpy ready(&decoder, &ClipDecoder::clipReady);
    decoder.request(requests);
    QTRY_COMPARE_WITH_TIMEOUT(ready.size(), requests.size(), 15000);
    for (int n = 0; n < ready.size(); ++n) {
        const ClipDecoder::Clip clip = ready[n][0].value<ClipDecoder::Clip>();
        const ClipDecoder::Request &r = clips[clip.id];
        QVERIFY2(clip.error.isEmpty(), qPrintable(clip.error));
        // Every event's frame before any clip.
        QCOMPARE(clip.eventOnly, n < requests.size() - clips.size());
        // Each stride-th frame from the event's, a second before to half after,
        // up to the video's end; the event's frame alone.
        std::vector<double> every;
        for (double i = r.first; i <= std::min(r.last, 199.0); ++i) {
            if (std::fmod(std::abs(i - r.event), 3.0) == 0 && (!clip.eventOnly || i == r.event))
                every.push_back(i);
        }
        QCOMPARE(clip.indices, every);
        QCOMPARE(clip.frames.size(), clip.indices.size());
        const auto at = std::find(clip.indices.begin(), clip.indices.end(), r.event);
        QVERIFY(at != clip.indices.end());
        // The event's frame, as the reader gives it, cropped.
        FrameReader reader;
        QCOMPARE(reader.open(path, static_cast<int>(r.event)), QString());
        const cv::Mat expected = reader.startFrame()(r.crop);
        const cv::Mat &got = clip.frames[size_t(at - clip.indices.begin())];
        QCOMPARE(got.size(), expected.size());
        QCOMPARE(cv::norm(got, expected, cv::NORM_INF), 0.0);
    }
}

QTEST_GUILESS_MAIN(TestReview)
#include "test_review.moc"
