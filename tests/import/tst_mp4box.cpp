#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "testfiles.h"
#include "annexbreader.h"
#include "streamprobe.h"
#include "testvideo.h"

namespace {

constexpr int kFrames = 100;

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

} // namespace

// The shipped wrapping tool, run as the import worker runs it, on raw streams
// that libx264 makes from frames carrying their own index.
class TestMp4Box : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void roundTrip_data();
    void roundTrip();
    void progressLines();
    void failures_data();
    void failures();
    void failureKeepsEarlierOutput();
    void refusesOutputOntoStream();

private:
    Run run(const QStringList &arguments) const;
    bool encode(const QString &target, const QStringList &options) const;

    QTemporaryDir dir;
    QString ffmpeg;
    QString frames;
};

Run TestMp4Box::run(const QStringList &arguments) const
{
    QProcess process;
    process.start(QStringLiteral(KESTRIN_MP4BOX), arguments);
    Run result;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

bool TestMp4Box::encode(const QString &target, const QStringList &options) const
{
    QProcess process;
    process.start(ffmpeg,
        QStringList { "-v", "error", "-y", "-i", frames, "-c:v", "libx264" } + options
            + QStringList { "-threads", "1", "-pix_fmt", "yuv420p", "-f", "h264", target });
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0 && QFileInfo(target).size() > 0;
}

void TestMp4Box::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY2(QFileInfo(QStringLiteral(KESTRIN_MP4BOX)).isExecutable(), KESTRIN_MP4BOX);
    ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    QVERIFY2(!ffmpeg.isEmpty(), "the ffmpeg program is needed to make test streams");
    frames = dir.filePath(QStringLiteral("frames.avi"));
    const cv::Mat background = testvideo::background(cv::Size(320, 240));
    QVERIFY(testvideo::write(
        frames, "MJPG", 90, cv::Size(320, 240), kFrames, [&background](int index, cv::Mat &frame) {
            background.copyTo(frame);
            testvideo::paintIndex(frame, index);
        }));
}

void TestMp4Box::roundTrip_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("reordered");
    QTest::addColumn<bool>("declaresDelay");

    QTest::newRow("no B-frames") << QStringList { "-bf", "0", "-g", "30" } << false << false;
    QTest::newRow("B-frames") << QStringList { "-bf", "3", "-g", "30", "-x264-params", "b-adapt=0" }
                              << true << true;
    // The stream announces a reorder delay of 2 but never uses a B-frame.
    QTest::newRow("declared delay only")
        << QStringList { "-bf", "2", "-g", "30", "-x264-params", "b-bias=-100" } << false << true;
}

void TestMp4Box::roundTrip()
{
    QFETCH(QStringList, options);
    QFETCH(bool, reordered);
    QFETCH(bool, declaresDelay);

    const QString name = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_');
    const QString stream = dir.filePath(name + QStringLiteral(".h264"));
    const QString output = dir.filePath(name + QStringLiteral(".mp4"));
    QVERIFY(encode(stream, options));

    // Make sure the stream is the case this row is about.
    std::string error;
    StreamProbe probe;
    QVERIFY2(probe.run(QFile::encodeName(stream).toStdString(), error), error.c_str());
    QCOMPARE(probe.declaredDelay() > 0, declaresDelay);
    AnnexBReader reader;
    QVERIFY2(reader.open(QFile::encodeName(stream).toStdString(), error), error.c_str());
    AnnexBReader::AccessUnit unit;
    int units = 0;
    int lastCount = 0;
    bool outOfOrder = false;
    while (reader.next(unit)) {
        if (!unit.idr && unit.orderCount < lastCount)
            outOfOrder = true;
        lastCount = unit.orderCount;
        ++units;
    }
    QCOMPARE(units, kFrames);
    QCOMPARE(outOfOrder, reordered);

    // An earlier file of the output's name is replaced.
    QVERIFY(testfiles::write(output, "not a video"));
    const Run result = run({ "-fps", "90", "-add", stream, output });
    QVERIFY2(result.exitCode == 0, result.err.constData());

    cv::VideoCapture capture(QFile::encodeName(output).toStdString(), cv::CAP_FFMPEG);
    QVERIFY(capture.isOpened());
    QCOMPARE(capture.get(cv::CAP_PROP_FPS), 90.0);
    QCOMPARE(qRound(capture.get(cv::CAP_PROP_FRAME_COUNT)), kFrames);
    cv::Mat frame;
    for (int i = 0; i < kFrames; ++i) {
        QVERIFY2(capture.read(frame), qPrintable(QString::number(i)));
        QCOMPARE(testvideo::readIndex(frame), i);
    }
    QVERIFY(!capture.read(frame));

    // Forwards and backwards, across groups of pictures, to both ends.
    for (int target : { 0, 1, 2, 29, 30, 31, 47, 60, 62, 75, 98, 99, 13, 0, 50, 89, 90 }) {
        capture.set(cv::CAP_PROP_POS_FRAMES, target);
        QVERIFY2(capture.read(frame), qPrintable(QString::number(target)));
        QCOMPARE(testvideo::readIndex(frame), target);
    }
}

void TestMp4Box::progressLines()
{
    const QString stream = dir.filePath(QStringLiteral("progress.h264"));
    const QString output = dir.filePath(QStringLiteral("progress.mp4"));
    QVERIFY(encode(stream, { "-bf", "0", "-g", "30" }));
    const Run result = run({ "-fps", "90", "-add", stream, output });
    QCOMPARE(result.exitCode, 0);

    const QRegularExpression line(QStringLiteral(
        "^(Importing AVC-H264|ISO File Writing): \\|([= ]{20})\\| \\((\\d+)/100\\)$"));
    QStringList stages;
    QMap<QString, QList<int>> values;
    for (const QString &text : QString::fromUtf8(result.out).split('\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = line.match(text);
        QVERIFY2(match.hasMatch(), qPrintable(text));
        const int value = match.captured(3).toInt();
        QCOMPARE(match.captured(2).count('='), value / 5);
        if (stages.isEmpty() || stages.last() != match.captured(1))
            stages << match.captured(1);
        values[match.captured(1)] << value;
    }
    QCOMPARE(stages, QStringList({ "Importing AVC-H264", "ISO File Writing" }));
    for (const QList<int> &stage : values) {
        QVERIFY(std::is_sorted(stage.begin(), stage.end()));
        QCOMPARE(stage.last(), 100);
    }
}

void TestMp4Box::failures_data()
{
    QTest::addColumn<QStringList>("arguments");
    // Empty: a real stream, so that only what the row names can fail.
    QTest::addColumn<QByteArray>("streamBytes");

    const QByteArray noise = QByteArray(4096, '\x5a');
    QTest::newRow("no arguments") << QStringList {} << noise;
    QTest::newRow("no output") << QStringList { "-fps", "90", "-add", "@stream" } << noise;
    QTest::newRow("no stream") << QStringList { "-fps", "90", "@output" } << noise;
    QTest::newRow("option without value") << QStringList { "@output", "-add" } << noise;
    QTest::newRow("unknown option") << QStringList { "-x", "-add", "@stream", "@output" } << noise;
    QTest::newRow("rate not a number")
        << QStringList { "-fps", "fast", "-add", "@stream", "@output" } << noise;
    QTest::newRow("rate zero") << QStringList { "-fps", "0", "-add", "@stream", "@output" }
                               << noise;
    QTest::newRow("two outputs") << QStringList { "-add", "@stream", "@output", "@output" }
                                 << noise;
    QTest::newRow("missing stream")
        << QStringList { "-fps", "90", "-add", "@missing", "@output" } << noise;
    QTest::newRow("empty stream") << QStringList { "-fps", "90", "-add", "@empty", "@output" }
                                  << noise;
    QTest::newRow("not H.264") << QStringList { "-fps", "90", "-add", "@stream", "@output" }
                               << noise;
    QTest::newRow("no output folder")
        << QStringList { "-fps", "90", "-add", "@stream", "@nofolder" } << QByteArray();
}

void TestMp4Box::failures()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, streamBytes);

    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString stream = work.filePath(QStringLiteral("in.h264"));
    const QString output = work.filePath(QStringLiteral("out.mp4"));
    if (streamBytes.isEmpty())
        QVERIFY(encode(stream, { "-bf", "0" }));
    else
        QVERIFY(testfiles::write(stream, streamBytes));
    const QString empty = work.filePath(QStringLiteral("empty.h264"));
    QVERIFY(testfiles::write(empty, QByteArray()));
    for (QString &argument : arguments) {
        argument.replace(QStringLiteral("@stream"), stream);
        argument.replace(QStringLiteral("@output"), output);
        argument.replace(QStringLiteral("@empty"), empty);
        argument.replace(QStringLiteral("@missing"), work.filePath(QStringLiteral("none.h264")));
        argument.replace(QStringLiteral("@nofolder"), work.filePath(QStringLiteral("no/out.mp4")));
    }

    const Run result = run(arguments);
    QVERIFY2(result.exitCode > 0, qPrintable(QString::number(result.exitCode)));
    QVERIFY2(result.err.contains("mp4box: "), result.err.constData());
    // Nothing left behind: no output, no temporary file.
    QCOMPARE(
        QDir(work.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name),
        QStringList({ "empty.h264", "in.h264" }));
}

void TestMp4Box::failureKeepsEarlierOutput()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString stream = work.filePath(QStringLiteral("cam.h264"));
    const QString output = work.filePath(QStringLiteral("cam.mp4"));
    QVERIFY(testfiles::write(stream, QByteArray(2000, '\x11')));
    QVERIFY(testfiles::write(output, "an earlier import"));

    QVERIFY(run({ "-fps", "90", "-add", stream, output }).exitCode > 0);
    QCOMPARE(testfiles::read(output), QByteArray("an earlier import"));
    QCOMPARE(QDir(work.path()).entryList(QDir::Files).size(), 2);
}

void TestMp4Box::refusesOutputOntoStream()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString stream = work.filePath(QStringLiteral("cam.h264"));
    QVERIFY(encode(stream, { "-bf", "0" }));
    const QByteArray before = testfiles::read(stream);

    QVERIFY(run({ "-fps", "90", "-add", stream, stream }).exitCode > 0);
    QCOMPARE(testfiles::read(stream), before);
    QCOMPARE(QDir(work.path()).entryList(QDir::Files), QStringList { "cam.h264" });
}

QTEST_GUILESS_MAIN(TestMp4Box)

#include "tst_mp4box.moc"
