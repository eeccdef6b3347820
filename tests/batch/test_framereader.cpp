#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <QTemporaryDir>
#include <QTest>

#include "framereader.h"
#include "insectscene.h"
#include "testvideo.h"
#include "videofiles.h"

namespace {

constexpr int kFrames = 120;

// Opened as the processing run opens a video: frame 90 read.
bool openAt90(cv::VideoCapture &capture, const QString &path)
{
    cv::Mat frame;
    return VideoFiles::openCapture(capture, path) && capture.set(cv::CAP_PROP_POS_FRAMES, 90)
        && capture.read(frame);
}

} // namespace

class TestFrameReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sameFramesAsSequentialReading_data();
    void sameFramesAsSequentialReading();
    void stopsEarlyWithoutHanging_data();
    void stopsEarlyWithoutHanging();

private:
    QTemporaryDir dir;
    QString video;
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
}

void TestFrameReader::sameFramesAsSequentialReading_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("delayEvery"); // the consumer dawdles on every n-th frame

    QTest::newRow("depth 1 is 2") << 1 << 0;
    QTest::newRow("depth 2") << 2 << 0;
    QTest::newRow("depth 4") << 4 << 0;
    QTest::newRow("depth 4, slow consumer") << 4 << 3;
}

void TestFrameReader::sameFramesAsSequentialReading()
{
    QFETCH(int, depth);
    QFETCH(int, delayEvery);

    cv::VideoCapture plain;
    QVERIFY(openAt90(plain, video));
    cv::VideoCapture threaded;
    QVERIFY(openAt90(threaded, video));

    FrameReader reader(threaded, depth);
    cv::Mat colour;
    cv::Mat expected;
    int index = 91;
    while (const cv::Mat *grey = reader.next()) {
        QVERIFY(plain.read(colour));
        cv::cvtColor(colour, expected, cv::COLOR_BGR2GRAY);
        QCOMPARE(grey->type(), CV_8UC1);
        QCOMPARE(testvideo::readIndex(*grey), index);
        QCOMPARE(cv::norm(*grey, expected, cv::NORM_INF), 0.0);
        if (delayEvery > 0 && index % delayEvery == 0)
            QTest::qSleep(5);
        ++index;
    }
    QCOMPARE(index, kFrames);
    QVERIFY(!plain.read(colour));
    // The end stays the end.
    QVERIFY(reader.next() == nullptr);
}

void TestFrameReader::stopsEarlyWithoutHanging_data()
{
    QTest::addColumn<int>("taken");

    QTest::newRow("none taken") << 0;
    QTest::newRow("three taken") << 3;
}

void TestFrameReader::stopsEarlyWithoutHanging()
{
    QFETCH(int, taken);

    cv::VideoCapture capture;
    QVERIFY(openAt90(capture, video));
    {
        FrameReader reader(capture, 2);
        for (int i = 0; i < taken; ++i) {
            const cv::Mat *grey = reader.next();
            QVERIFY(grey != nullptr);
            QCOMPARE(testvideo::readIndex(*grey), 91 + i);
        }
        // Give it time to fill the ring and wait for a free slot.
        QTest::qSleep(50);
    }
    // The reader decoded no more than its ring of two holds: the frame the
    // caller held and one more, or two when none was taken.
    cv::Mat frame;
    QVERIFY(capture.read(frame));
    QCOMPARE(testvideo::readIndex(frame), 91 + (taken == 0 ? 2 : taken + 1));
}

QTEST_APPLESS_MAIN(TestFrameReader)
#include "test_framereader.moc"
