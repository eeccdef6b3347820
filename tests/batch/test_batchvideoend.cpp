// kestrin-batch on videos that end before their declared frame count or
// change their frame size: counted up to the last good frame, reported on
// standard error and in the summary line, exit status 3.

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "batchprocess.h"
#include "insectscene.h"
#include "scenes/groundtruthscene.h"
#include "testvideo.h"
#include "zones/runrecord.h"
#include "zones/videofiles.h"

namespace {

using Outcome = BatchProcess::Outcome;

Outcome runBatch(const QStringList &arguments)
{
    return BatchProcess::run(QStringLiteral(KESTRIN_BATCH), arguments);
}

bool append(QFile &to, const QString &from, qint64 length = -1)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = length < 0 ? in.readAll() : in.read(length);
    return to.write(data) == data.size();
}

} // namespace

class TestBatchVideoEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void reportsTheEnd_data();
    void reportsTheEnd();

private:
    QTemporaryDir dir;
};

void TestBatchVideoEnd::initTestCase()
{
    QVERIFY(dir.isValid());
    // 300 frames, the index at the front, then cut to half its bytes.
    const QString whole = dir.filePath(QStringLiteral("whole.mp4"));
    QVERIFY(testvideo::encodeTestSource(QStringLiteral("320x240"), 300,
        { QStringLiteral("-movflags"), QStringLiteral("+faststart"), whole }));
    QFile truncated(dir.filePath(QStringLiteral("truncated.mp4")));
    QVERIFY(truncated.open(QIODevice::WriteOnly));
    QVERIFY(append(truncated, whole, QFileInfo(whole).size() / 2));
    truncated.close();

    // 120 frames of 320x240, then 60 of 352x288, wrapped by mp4box.
    const QString small = dir.filePath(QStringLiteral("small.h264"));
    const QString large = dir.filePath(QStringLiteral("large.h264"));
    QVERIFY(testvideo::encodeTestSource(
        QStringLiteral("320x240"), 120, { QStringLiteral("-f"), QStringLiteral("h264"), small }));
    QVERIFY(testvideo::encodeTestSource(
        QStringLiteral("352x288"), 60, { QStringLiteral("-f"), QStringLiteral("h264"), large }));
    QFile joined(dir.filePath(QStringLiteral("resized.h264")));
    QVERIFY(joined.open(QIODevice::WriteOnly));
    QVERIFY(append(joined, small));
    QVERIFY(append(joined, large));
    joined.close();
    QVERIFY(testvideo::runTool(QStringLiteral(KESTRIN_MP4BOX),
        { QStringLiteral("-fps"), QStringLiteral("25"), QStringLiteral("-add"), joined.fileName(),
            dir.filePath(QStringLiteral("resized.mp4")) }));

    for (const QString &name :
        { QStringLiteral("whole"), QStringLiteral("truncated"), QStringLiteral("resized") })
        GroundTruthScene::saveBoxes(dir.filePath(name + QStringLiteral(".mp4")),
            { { 160, 20 }, { 160, 220 } }, insectscene::wholeFrame());
}

void TestBatchVideoEnd::reportsTheEnd_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("frames"); // in the summary line
    QTest::addColumn<QString>("report"); // in the summary line and on standard error

    QTest::newRow("whole") << QStringLiteral("whole") << 0 << QStringLiteral(": 209 frames,")
                           << QString();
    QTest::newRow("truncated") << QStringLiteral("truncated") << 3 << QString()
                               << QStringLiteral("ended at frame ");
    QTest::newRow("size changed") << QStringLiteral("resized") << 3
                                  << QStringLiteral(": 29 frames,")
                                  << QStringLiteral("ended at frame 119 of 180 declared: its "
                                                    "frames change size to 352x288 from 320x240");
}

void TestBatchVideoEnd::reportsTheEnd()
{
    QFETCH(QString, name);
    QFETCH(int, status);
    QFETCH(QString, frames);
    QFETCH(QString, report);

    const QString video = dir.filePath(name + QStringLiteral(".mp4"));
    const Outcome outcome = runBatch({ QStringLiteral("--quiet"), video });
    QCOMPARE(outcome.status, status);
    const QString out = QString::fromLocal8Bit(outcome.out);
    const QString err = QString::fromLocal8Bit(outcome.err);
    QVERIFY2(out.startsWith(name + QLatin1Char(':')), qPrintable(out));
    QVERIFY2(frames.isEmpty() || out.contains(frames), qPrintable(out));
    if (report.isEmpty()) {
        QVERIFY2(!out.contains(QLatin1String("ended at")), qPrintable(out));
        QVERIFY2(!err.contains(QLatin1String("ended at")), qPrintable(err));
    } else {
        QVERIFY2(out.contains(QStringLiteral(" out, ") + report), qPrintable(out));
        QVERIFY2(err.contains(QStringLiteral("kestrin-batch: warning: ")), qPrintable(err));
        QVERIFY2(err.contains(report), qPrintable(err));
    }
    // Counted up to the last frame: the files of a finished video are there.
    QVERIFY(QFileInfo::exists(VideoFiles::resultFile(video)));
    QVERIFY(QFileInfo::exists(VideoFiles::densityFile(video)));
    // Its run record says whether it ended as declared, and why not.
    RunRecord record;
    QVERIFY(RunRecord::load(VideoFiles::runRecordFile(video), record, nullptr));
    QCOMPARE(
        record.status, report.isEmpty() ? RunRecord::Status::Complete : RunRecord::Status::Partial);
    QVERIFY2(record.reason.contains(report), qPrintable(record.reason));
}

QTEST_APPLESS_MAIN(TestBatchVideoEnd)
#include "test_batchvideoend.moc"
