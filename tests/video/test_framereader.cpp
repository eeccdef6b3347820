#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "insectscene.h"
#include "run/processrun.h"
#include "testvideo.h"
#include "video/framereader.h"
#include "zones/videofiles.h"

namespace {

constexpr int kFrames = 120;

bool rawStream(const QString &path, const QString &size, int frames)
{
    return testvideo::encodeTestSource(
        size, frames, { QStringLiteral("-f"), QStringLiteral("h264"), path });
}

bool wrap(const QString &stream, const QString &video)
{
    return testvideo::runTool(QStringLiteral(KESTRIN_MP4BOX),
        { QStringLiteral("-fps"), QStringLiteral("25"), QStringLiteral("-add"), stream, video });
}

} // namespace

class TestFrameReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sameFramesAsSequentialReading_data();
    void sameFramesAsSequentialReading();
    void closesEarlyAndReopens_data();
    void closesEarlyAndReopens();
    void earlyEndRule_data();
    void earlyEndRule();
    void endOfVideo_data();
    void endOfVideo();

private:
    QTemporaryDir dir;
    QString video;
    QString truncated; // declares 300 frames, holds about half
    QString resized; // 120 frames of 320x240, then 60 of 352x288
};

void TestFrameReader::initTestCase()
{
    QVERIFY(dir.isValid());
    video = dir.filePath(QStringLiteral("indexed.mp4"));
    const cv::Mat background = testvideo::background(insectscene::kSize);
    QVERIFY(testvideo::write(
        video, "avc1", 90, insectscene::kSize, kFrames, [&background](int index, cv::Mat &frame) {
            background.copyTo(frame);
            testvideo::paintIndex(frame, index);
            cv::circle(frame, insectscene::rightwards(index), insectscene::kRadius,
                cv::Scalar::all(20), cv::FILLED);
        }));

    // A copy cut short, its index at the front: it still opens.
    const QString whole = dir.filePath(QStringLiteral("long.mp4"));
    QVERIFY(testvideo::encodeTestSource(QStringLiteral("320x240"), 300,
        { QStringLiteral("-movflags"), QStringLiteral("+faststart"), whole }));
    QFile file(whole);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    truncated = dir.filePath(QStringLiteral("truncated.mp4"));
    QFile cut(truncated);
    QVERIFY(cut.open(QIODevice::WriteOnly));
    QCOMPARE(cut.write(bytes.left(bytes.size() / 2)), static_cast<qint64>(bytes.size() / 2));
    cut.close();

    // Two streams of different sizes, one after the other.
    const QString small = dir.filePath(QStringLiteral("small.h264"));
    const QString large = dir.filePath(QStringLiteral("large.h264"));
    QVERIFY(rawStream(small, QStringLiteral("320x240"), 120));
    QVERIFY(rawStream(large, QStringLiteral("352x288"), 60));
    QFile joined(dir.filePath(QStringLiteral("resized.h264")));
    QVERIFY(joined.open(QIODevice::WriteOnly));
    for (const QString &part : { small, large }) {
        QFile in(part);
        QVERIFY(in.open(QIODevice::ReadOnly));
        const QByteArray data = in.readAll();
        QCOMPARE(joined.write(data), static_cast<qint64>(data.size()));
    }
    joined.close();
    resized = dir.filePath(QStringLiteral("resized.mp4"));
    QVERIFY(wrap(joined.fileName(), resized));
}

void TestFrameReader::sameFramesAsSequentialReading_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("delayEvery"); // the consumer dawdles on every n-th frame
    QTest::addColumn<bool>("direct");

    QTest::newRow("depth 1 is 2") << 1 << 0 << true;
    QTest::newRow("depth 2") << 2 << 0 << true;
    QTest::newRow("depth 4") << 4 << 0 << true;
    QTest::newRow("depth 4, slow consumer") << 4 << 3 << true;
    QTest::newRow("through the capture, depth 2") << 2 << 0 << false;
    QTest::newRow("through the capture, slow consumer") << 4 << 3 << false;
}

void TestFrameReader::sameFramesAsSequentialReading()
{
    QFETCH(int, depth);
    QFETCH(int, delayEvery);
    QFETCH(bool, direct);

    cv::VideoCapture plain;
    cv::Mat colour;
    QVERIFY(FrameReader::openCapture(plain, video));
    plain.set(cv::CAP_PROP_POS_FRAMES, ProcessRun::kStartFrame);
    QVERIFY(plain.read(colour));

    FrameReader reader(depth, direct ? FrameReader::Direct : FrameReader::CaptureOnly);
    QCOMPARE(reader.open(video, ProcessRun::kStartFrame), QString());
    QCOMPARE(reader.direct(), direct);
    QCOMPARE(reader.frameSize(), insectscene::kSize);
    QCOMPARE(testvideo::readIndex(reader.startFrame()), ProcessRun::kStartFrame);
    QCOMPARE(cv::norm(reader.startFrame(), colour, cv::NORM_INF), 0.0);

    cv::Mat expected;
    int index = ProcessRun::kStartFrame + 1;
    while (const FrameReader::Frame *frame = reader.next()) {
        QVERIFY(plain.read(colour));
        cv::cvtColor(colour, expected, cv::COLOR_BGR2GRAY);
        QCOMPARE(frame->grey.type(), CV_8UC1);
        QCOMPARE(testvideo::readIndex(frame->grey), index);
        QCOMPARE(cv::norm(frame->grey, expected, cv::NORM_INF), 0.0);
        QCOMPARE(cv::norm(frame->colour, colour, cv::NORM_INF), 0.0);
        QCOMPARE(reader.lastIndex(), static_cast<double>(index));
        if (delayEvery > 0 && index % delayEvery == 0)
            QTest::qSleep(5);
        ++index;
    }
    QCOMPARE(index, kFrames);
    QVERIFY(!plain.read(colour));
    // The end stays the end.
    QVERIFY(reader.next() == nullptr);
    QCOMPARE(reader.end(), FrameReader::Complete);
    QCOMPARE(reader.lastIndex(), static_cast<double>(kFrames - 1));
}

void TestFrameReader::closesEarlyAndReopens_data()
{
    QTest::addColumn<int>("taken");

    QTest::newRow("none taken") << 0;
    QTest::newRow("three taken") << 3;
}

void TestFrameReader::closesEarlyAndReopens()
{
    QFETCH(int, taken);

    FrameReader reader(2);
    for (int turn = 0; turn < 2; ++turn) {
        QCOMPARE(reader.open(video, ProcessRun::kStartFrame), QString());
        for (int i = 0; i < taken; ++i) {
            const FrameReader::Frame *frame = reader.next();
            QVERIFY(frame != nullptr);
            QCOMPARE(testvideo::readIndex(frame->grey), 91 + i);
        }
        // Stopped while its thread decodes ahead or waits for a free slot.
        QCOMPARE(reader.end(), FrameReader::Reading);
        reader.close();
        QVERIFY(!reader.isOpen());
        QVERIFY(reader.next() == nullptr);
    }
    // Opened again, it starts over at frame 91.
    QCOMPARE(reader.open(video, ProcessRun::kStartFrame), QString());
    const FrameReader::Frame *frame = reader.next();
    QVERIFY(frame != nullptr);
    QCOMPARE(testvideo::readIndex(frame->grey), 91);
}

void TestFrameReader::earlyEndRule_data()
{
    QTest::addColumn<double>("lastIndex");
    QTest::addColumn<double>("declared");
    QTest::addColumn<double>("fps");
    QTest::addColumn<bool>("early");

    QTest::newRow("every frame") << 9999.0 << 10000.0 << 25.0 << false;
    QTest::newRow("more frames than declared") << 10010.0 << 10000.0 << 25.0 << false;
    // 1 % of 10000 is 100 frames, one second 25.
    QTest::newRow("exactly 1 %") << 9899.0 << 10000.0 << 25.0 << false;
    QTest::newRow("just over 1 %") << 9898.0 << 10000.0 << 25.0 << true;
    // 1 % of 1000 is 10 frames, one second 90.
    QTest::newRow("over 1 %, under a second") << 950.0 << 1000.0 << 90.0 << false;
    QTest::newRow("over 1 % and a second") << 800.0 << 1000.0 << 90.0 << true;
    QTest::newRow("no frame rate: 1 % alone") << 800.0 << 1000.0 << 0.0 << true;
    QTest::newRow("no declared count") << 800.0 << 0.0 << 25.0 << false;
    QTest::newRow("declared count not a number") << 800.0 << qQNaN() << 25.0 << false;
}

void TestFrameReader::earlyEndRule()
{
    QFETCH(double, lastIndex);
    QFETCH(double, declared);
    QFETCH(double, fps);
    QFETCH(bool, early);

    QCOMPARE(FrameReader::endedEarly(lastIndex, declared, fps), early);
}

void TestFrameReader::endOfVideo_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<bool>("direct");
    QTest::addColumn<int>("end");
    QTest::addColumn<QString>("report"); // the start of it

    for (const bool direct : { true, false }) {
        const QString route = direct ? QStringLiteral("direct") : QStringLiteral("capture");
        QTest::addRow("complete, %s", qPrintable(route))
            << QStringLiteral("indexed") << direct << int(FrameReader::Complete) << QString();
        QTest::addRow("truncated, %s", qPrintable(route))
            << QStringLiteral("truncated") << direct << int(FrameReader::Early)
            << QStringLiteral("ended at frame ");
    }
    QTest::newRow("size changed, direct")
        << QStringLiteral("resized") << true << int(FrameReader::SizeChanged)
        << QStringLiteral("ended at frame 119 of 180 declared: its frames change size to 352x288");
    // The capture would convert frames of one size as the other: it stops a
    // few frames ahead of the change.
    QTest::newRow("size changed, capture")
        << QStringLiteral("resized") << false << int(FrameReader::SizeChanged)
        << QStringLiteral("ended at frame 11");
}

void TestFrameReader::endOfVideo()
{
    QFETCH(QString, which);
    QFETCH(bool, direct);
    QFETCH(int, end);
    QFETCH(QString, report);

    const QString path = which == QLatin1String("indexed") ? video
        : which == QLatin1String("truncated")              ? truncated
                                                           : resized;
    FrameReader reader(4, direct ? FrameReader::Direct : FrameReader::CaptureOnly);
    QCOMPARE(reader.open(path, ProcessRun::kStartFrame), QString());
    QCOMPARE(reader.direct(), direct);
    const cv::Size size = reader.frameSize();
    double frames = 0;
    while (const FrameReader::Frame *frame = reader.next()) {
        QCOMPARE(frame->colour.size(), size);
        QCOMPARE(frame->grey.size(), size);
        ++frames;
    }
    QCOMPARE(int(reader.end()), end);
    QCOMPARE(reader.lastIndex(), ProcessRun::kStartFrame + frames);
    const QString text = reader.endReport();
    QVERIFY2(report.isEmpty() ? text.isEmpty() : text.startsWith(report), qPrintable(text));
    if (end == FrameReader::SizeChanged)
        QVERIFY2(text.contains(QLatin1String("352x288")), qPrintable(text));
    if (end == FrameReader::Early) {
        QVERIFY(reader.lastIndex() < 0.99 * reader.frameCount());
        QVERIFY2(text.contains(QStringLiteral(" of %1 declared").arg(reader.frameCount())),
            qPrintable(text));
    }
}

QTEST_APPLESS_MAIN(TestFrameReader)
#include "test_framereader.moc"
