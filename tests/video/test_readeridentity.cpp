// The frame reader against cv::VideoCapture on every codec and pixel format
// the tests can make: frame 90 after the capture's own seek, then every
// later frame, byte for byte, in BGR and grey; and its grey conversion
// against cv::cvtColor on every colour.

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libswscale/swscale.h>
}

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "video/framereader.h"
#include "video/greyconverter.h"
#include "video/simdpaths.h"
#include "video/yuvconverter.h"
#include "zones/videofiles.h"

namespace {

constexpr int kFrames = 110;

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    return process.waitForStarted(10000) && process.waitForFinished(120000)
        && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Moving, colourful frames with sharp edges: any difference in decoding or
// conversion shows.
QStringList source(const QString &size, bool audio)
{
    QStringList arguments { QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
        QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
        QStringLiteral("lavfi"), QStringLiteral("-i"),
        QStringLiteral("testsrc2=size=%1:rate=25").arg(size) };
    // Packets of another stream between the frames, as a camera's sound.
    if (audio)
        arguments << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
                  << QStringLiteral("sine=frequency=440:sample_rate=48000:duration=10")
                  << QStringLiteral("-c:a") << QStringLiteral("aac");
    return arguments << QStringLiteral("-frames:v") << QString::number(kFrames);
}

// Copies the packets of `from` into `to`, the video stream marked to be
// shown turned by `degrees` (as phones record), as the ffmpeg here cannot.
bool remuxRotated(const QString &from, const QString &to, double degrees)
{
    AVFormatContext *in = nullptr;
    AVFormatContext *out = nullptr;
    bool done = false;
    if (avformat_open_input(&in, qPrintable(from), nullptr, nullptr) >= 0
        && avformat_find_stream_info(in, nullptr) >= 0
        && avformat_alloc_output_context2(&out, nullptr, nullptr, qPrintable(to)) >= 0) {
        done = true;
        for (unsigned i = 0; done && i < in->nb_streams; ++i) {
            AVStream *stream = avformat_new_stream(out, nullptr);
            done = stream
                && avcodec_parameters_copy(stream->codecpar, in->streams[i]->codecpar) >= 0;
            if (!done)
                break;
            stream->time_base = in->streams[i]->time_base;
            stream->codecpar->codec_tag = 0;
            uint8_t *matrix
                = av_stream_new_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t));
            done = matrix != nullptr;
            if (done)
                av_display_rotation_set(reinterpret_cast<int32_t *>(matrix), degrees);
        }
        done = done && avio_open(&out->pb, qPrintable(to), AVIO_FLAG_WRITE) >= 0
            && avformat_write_header(out, nullptr) >= 0;
        AVPacket *packet = av_packet_alloc();
        while (done && packet && av_read_frame(in, packet) >= 0) {
            const AVStream *source = in->streams[packet->stream_index];
            av_packet_rescale_ts(
                packet, source->time_base, out->streams[packet->stream_index]->time_base);
            done = av_interleaved_write_frame(out, packet) >= 0;
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
        done = done && av_write_trailer(out) >= 0;
        if (out->pb)
            avio_closep(&out->pb);
    }
    avformat_free_context(out);
    avformat_close_input(&in);
    return done;
}

} // namespace

class TestReaderIdentity : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sameFramesAsTheCapture_data();
    void sameFramesAsTheCapture();
    void greyOfEveryColour_data();
    void greyOfEveryColour();
    void yuvOfEveryLevel();
    void plainPathsSwitch_data();
    void plainPathsSwitch();

private:
    QTemporaryDir dir;
    QString ffmpeg;
};

void TestReaderIdentity::initTestCase()
{
    QVERIFY(dir.isValid());
    ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    QVERIFY2(!ffmpeg.isEmpty(), "ffmpeg is needed to make the test videos");
}

void TestReaderIdentity::sameFramesAsTheCapture_data()
{
    QTest::addColumn<QString>("size");
    QTest::addColumn<QStringList>("encoding"); // ffmpeg options after the source
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<bool>("wrap"); // a raw stream wrapped by mp4box
    QTest::addColumn<bool>("audio"); // with a sound track
    QTest::addColumn<bool>("direct"); // read without the capture (else through it)
    QTest::addColumn<int>("rotation"); // marked to be shown turned, in degrees

    const QString h264 = QStringLiteral("libx264");
    const auto x264 = [&](const QString &bframes, const QString &gop, const QString &format) {
        return QStringList { QStringLiteral("-c:v"), h264, QStringLiteral("-preset"),
            QStringLiteral("ultrafast"), QStringLiteral("-bf"), bframes, QStringLiteral("-g"), gop,
            QStringLiteral("-pix_fmt"), format };
    };
    // ultrafast makes no B-frames: these two ask for them through x264.
    const auto x264b = [&](const QString &gop) {
        return QStringList { QStringLiteral("-c:v"), h264, QStringLiteral("-preset"),
            QStringLiteral("veryfast"), QStringLiteral("-bf"), QStringLiteral("3"),
            QStringLiteral("-g"), gop, QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p") };
    };
    const auto mjpeg = [](const QString &format) {
        return QStringList { QStringLiteral("-c:v"), QStringLiteral("mjpeg"),
            QStringLiteral("-q:v"), QStringLiteral("3"), QStringLiteral("-pix_fmt"), format };
    };
    const QString mp4 = QStringLiteral(".mp4");
    const QString yuv420p = QStringLiteral("yuv420p");

    QTest::newRow("H.264 yuv420p, no B-frames")
        << QStringLiteral("320x240") << x264(QStringLiteral("0"), QStringLiteral("250"), yuv420p)
        << mp4 << false << false << true << 0;
    QTest::newRow("H.264 yuv420p, B-frames")
        << QStringLiteral("320x240") << x264b(QStringLiteral("250")) << mp4 << false << false
        << true << 0;
    // Key frames before 90: the seek starts decoding at one of them.
    QTest::newRow("H.264, B-frames, key frame every 20")
        << QStringLiteral("320x240") << x264b(QStringLiteral("20")) << mp4 << false << false << true
        << 0;
    QTest::newRow("H.264 322x242")
        << QStringLiteral("322x242") << x264(QStringLiteral("0"), QStringLiteral("30"), yuv420p)
        << mp4 << false << false << true << 0;
    // Coded 1376 wide: converting the visible size only would change the
    // right-most columns.
    QTest::newRow("H.264 1366x720")
        << QStringLiteral("1366x720") << x264(QStringLiteral("0"), QStringLiteral("250"), yuv420p)
        << mp4 << false << false << true << 0;
    QTest::newRow("H.264 yuv444p")
        << QStringLiteral("320x240")
        << x264(QStringLiteral("0"), QStringLiteral("250"), QStringLiteral("yuv444p")) << mp4
        << false << false << true << 0;
    QTest::newRow("MPEG-4 part 2") << QStringLiteral("320x240")
                                   << QStringList { QStringLiteral("-c:v"), QStringLiteral("mpeg4"),
                                          QStringLiteral("-q:v"), QStringLiteral("4") }
                                   << mp4 << false << false << true << 0;
    QTest::newRow("MPEG-4 part 2, B-frames, AVI")
        << QStringLiteral("320x240")
        << QStringList { QStringLiteral("-c:v"), QStringLiteral("mpeg4"), QStringLiteral("-q:v"),
               QStringLiteral("4"), QStringLiteral("-bf"), QStringLiteral("2") }
        << QStringLiteral(".avi") << false << false << true << 0;
    QTest::newRow("MJPEG yuvj420p")
        << QStringLiteral("320x240") << mjpeg(QStringLiteral("yuvj420p")) << mp4 << false << false
        << true << 0;
    QTest::newRow("MJPEG yuvj422p")
        << QStringLiteral("322x242") << mjpeg(QStringLiteral("yuvj422p")) << mp4 << false << false
        << true << 0;
    QTest::newRow("MJPEG 1x1") << QStringLiteral("64x64")
                               << (QStringList {
                                       QStringLiteral("-vf"), QStringLiteral("scale=1:1") }
                                      + mjpeg(QStringLiteral("yuvj444p")))
                               << mp4 << false << false << true << 0;
    QTest::newRow("raw H.264 wrapped by mp4box")
        << QStringLiteral("320x240") << x264b(QStringLiteral("30")) << QStringLiteral(".h264")
        << true << false << true << 0;
    QTest::newRow("H.264 with AAC sound")
        << QStringLiteral("320x240") << x264b(QStringLiteral("30")) << mp4 << false << true << true
        << 0;
    // The capture turns such frames: read through it.
    QTest::newRow("rotated by 90 degrees")
        << QStringLiteral("320x240") << x264b(QStringLiteral("30")) << mp4 << false << false
        << false << 90;
    // The route a file takes when the libraries cannot be driven as the
    // capture drives them.
    QTest::newRow("through the capture") << QStringLiteral("320x240") << x264b(QStringLiteral("20"))
                                         << mp4 << false << false << false << 0;
}

void TestReaderIdentity::sameFramesAsTheCapture()
{
    QFETCH(QString, size);
    QFETCH(QStringList, encoding);
    QFETCH(QString, suffix);
    QFETCH(bool, wrap);
    QFETCH(bool, audio);
    QFETCH(bool, direct);
    QFETCH(int, rotation);

    const QString name
        = QString::fromLatin1(QTest::currentDataTag())
              .replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]+")), QStringLiteral("_"));
    QString video = dir.filePath(name + suffix);
    QVERIFY(run(ffmpeg, source(size, audio) + encoding + QStringList { video }));
    if (wrap) {
        const QString wrapped = dir.filePath(name + QStringLiteral(".mp4"));
        QVERIFY(run(QStringLiteral(KESTRIN_MP4BOX),
            { QStringLiteral("-fps"), QStringLiteral("25"), QStringLiteral("-add"), video,
                wrapped }));
        video = wrapped;
    }

    if (rotation != 0) {
        const QString turned = dir.filePath(name + QStringLiteral("_turned.mp4"));
        QVERIFY(remuxRotated(video, turned, rotation));
        video = turned;
    }

    cv::VideoCapture capture;
    QVERIFY(FrameReader::openCapture(capture, video));
    capture.set(cv::CAP_PROP_POS_FRAMES, 90);
    cv::Mat expected;
    QVERIFY(capture.read(expected));

    // A rotated file goes through the capture by itself.
    const FrameReader::Route route
        = direct || rotation != 0 ? FrameReader::Direct : FrameReader::CaptureOnly;
    FrameReader reader(4, route);
    QCOMPARE(reader.open(video, 90), QString());
    // As the batch program reads: the grey images alone need be the same.
    FrameReader greyOnly(4, route, FrameReader::GreyOnly);
    QCOMPARE(greyOnly.open(video, 90), QString());
    QCOMPARE(cv::norm(greyOnly.startFrame(), expected, cv::NORM_INF), 0.0);
    QCOMPARE(reader.direct(), direct);
    QCOMPARE(reader.fps(), capture.get(cv::CAP_PROP_FPS));
    QCOMPARE(reader.frameCount(), capture.get(cv::CAP_PROP_FRAME_COUNT));
    QCOMPARE(reader.startFrame().size(), expected.size());
    QCOMPARE(cv::norm(reader.startFrame(), expected, cv::NORM_INF), 0.0);

    cv::Mat grey;
    int index = 91;
    while (capture.read(expected)) {
        const FrameReader::Frame *frame = reader.next();
        QVERIFY2(frame, qPrintable(QStringLiteral("no frame %1").arg(index)));
        QCOMPARE(frame->colour.size(), expected.size());
        QCOMPARE(frame->colour.type(), expected.type());
        if (cv::norm(frame->colour, expected, cv::NORM_INF) != 0.0)
            QFAIL(qPrintable(QStringLiteral("frame %1 differs").arg(index)));
        cv::cvtColor(expected, grey, cv::COLOR_BGR2GRAY);
        QCOMPARE(cv::norm(frame->grey, grey, cv::NORM_INF), 0.0);
        const FrameReader::Frame *greyFrame = greyOnly.next();
        QVERIFY(greyFrame);
        QCOMPARE(cv::norm(greyFrame->grey, grey, cv::NORM_INF), 0.0);
        // Made on demand where it was left out.
        cv::Mat colour;
        QVERIFY(greyOnly.colourOf(*greyFrame, colour));
        QCOMPARE(cv::norm(colour, expected, cv::NORM_INF), 0.0);
        ++index;
    }
    QVERIFY(reader.next() == nullptr);
    QVERIFY(greyOnly.next() == nullptr);
    QCOMPARE(index, kFrames);
    QCOMPARE(reader.end(), FrameReader::Complete);
    QCOMPARE(reader.endReport(), QString());
}

void TestReaderIdentity::greyOfEveryColour_data()
{
    // Widths around the converter's 32-pixel steps and the tail they leave.
    QTest::addColumn<int>("width");
    for (const int width : { 1, 31, 37, 38, 70, 1920, 4096 })
        QTest::addRow("%d wide", width) << width;
}

void TestReaderIdentity::greyOfEveryColour()
{
    QFETCH(int, width);
    const int colours = 1 << 24;
    cv::Mat bgr((colours + width - 1) / width, width, CV_8UC3, cv::Scalar::all(255));
    for (int i = 0; i < colours; ++i) {
        uchar *pixel = bgr.data + 3 * static_cast<size_t>(i);
        pixel[0] = static_cast<uchar>(i);
        pixel[1] = static_cast<uchar>(i >> 8);
        pixel[2] = static_cast<uchar>(i >> 16);
    }
    const GreyConverter converter;
    QVERIFY(converter.exact());
    cv::Mat expected;
    cv::cvtColor(bgr, expected, cv::COLOR_BGR2GRAY);
    cv::Mat grey;
    converter.convert(bgr, grey);
    QCOMPARE(cv::norm(grey, expected, cv::NORM_INF), 0.0);

    // Into a band of a larger image, as the reader converts, from a view.
    cv::Mat larger(bgr.rows + 2, width, CV_8UC1, cv::Scalar(7));
    cv::Mat band = larger.rowRange(1, bgr.rows + 1);
    converter.convert(bgr.colRange(0, width), band);
    QCOMPARE(band.data, larger.ptr(1));
    QCOMPARE(cv::norm(band, expected, cv::NORM_INF), 0.0);
    QCOMPARE(
        cv::countNonZero(larger.row(0) != 7) + cv::countNonZero(larger.row(bgr.rows + 1) != 7), 0);
}

// Every luma level with every pair of chroma values, converted by libswscale
// as the capture converts, and by the YUV converter: the same BGR, and the
// grey of it, also for rows whose end the wide path leaves to the narrow one.
void TestReaderIdentity::yuvOfEveryLevel()
{
    const int side = 4096;
    AVFrame *yuv = av_frame_alloc();
    AVFrame *bgr = av_frame_alloc();
    SwsContext *reference = sws_getContext(side, side, AV_PIX_FMT_YUV420P, side, side,
        AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    const auto release = qScopeGuard([&] {
        av_frame_free(&yuv);
        av_frame_free(&bgr);
        sws_freeContext(reference);
    });
    QVERIFY(yuv && bgr && reference);
    yuv->format = AV_PIX_FMT_YUV420P;
    bgr->format = AV_PIX_FMT_BGR24;
    yuv->width = bgr->width = side;
    yuv->height = bgr->height = side;
    QCOMPARE(av_frame_get_buffer(yuv, 32), 0);
    QCOMPARE(av_frame_get_buffer(bgr, 32), 0);
    // Block k of 2 x 2 pixels: chroma k mod 65536, luma levels 4 (k / 65536) to 4 (k / 65536) + 3.
    for (int by = 0; by < side / 2; ++by) {
        for (int bx = 0; bx < side / 2; ++bx) {
            const int block = by * (side / 2) + bx;
            yuv->data[1][by * yuv->linesize[1] + bx] = static_cast<uint8_t>(block);
            yuv->data[2][by * yuv->linesize[2] + bx] = static_cast<uint8_t>(block >> 8);
            uint8_t *luma = yuv->data[0] + 2 * by * yuv->linesize[0] + 2 * bx;
            const int level = (block >> 16) * 4;
            luma[0] = static_cast<uint8_t>(level);
            luma[1] = static_cast<uint8_t>(level + 1);
            luma[yuv->linesize[0]] = static_cast<uint8_t>(level + 2);
            luma[yuv->linesize[0] + 1] = static_cast<uint8_t>(level + 3);
        }
    }
    QCOMPARE(
        sws_scale(reference, yuv->data, yuv->linesize, 0, side, bgr->data, bgr->linesize), side);
    const cv::Mat expected(
        side, side, CV_8UC3, bgr->data[0], static_cast<size_t>(bgr->linesize[0]));
    cv::Mat expectedGrey;
    cv::cvtColor(expected, expectedGrey, cv::COLOR_BGR2GRAY);

    const YuvConverter converter;
    for (const int width : { side, side - 7 }) {
        cv::Mat mine(side, width, CV_8UC3);
        cv::Mat grey(side, width, CV_8UC1);
        cv::Mat greyAlone(side, width, CV_8UC1);
        for (int row = 0; row < side; ++row) {
            const uint8_t *y = yuv->data[0] + row * yuv->linesize[0];
            const uint8_t *u = yuv->data[1] + row / 2 * yuv->linesize[1];
            const uint8_t *v = yuv->data[2] + row / 2 * yuv->linesize[2];
            converter.convertRow(y, u, v, width, mine.ptr(row), grey.ptr(row));
            converter.convertRow(y, u, v, width, nullptr, greyAlone.ptr(row));
        }
        const cv::Rect part(0, 0, width, side);
        QCOMPARE(cv::norm(mine, expected(part), cv::NORM_INF), 0.0);
        QCOMPARE(cv::norm(grey, expectedGrey(part), cv::NORM_INF), 0.0);
        QCOMPARE(cv::norm(greyAlone, expectedGrey(part), cv::NORM_INF), 0.0);
    }

    // Its own check passes on the reference, and fails on a byte changed.
    const int small = YuvConverter::kCheckSize;
    YuvConverter::fillCheck(yuv->data[0], yuv->linesize[0], yuv->data[1], yuv->linesize[1],
        yuv->data[2], yuv->linesize[2]);
    SwsContext *checker = sws_getContext(small, small, AV_PIX_FMT_YUV420P, small, small,
        AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    QVERIFY(checker);
    sws_scale(checker, yuv->data, yuv->linesize, 0, small, bgr->data, bgr->linesize);
    sws_freeContext(checker);
    QVERIFY(converter.check(yuv->data[0], yuv->linesize[0], yuv->data[1], yuv->linesize[1],
        yuv->data[2], yuv->linesize[2], bgr->data[0], bgr->linesize[0]));
    bgr->data[0][100 * bgr->linesize[0] + 300] ^= 1;
    QVERIFY(!converter.check(yuv->data[0], yuv->linesize[0], yuv->data[1], yuv->linesize[1],
        yuv->data[2], yuv->linesize[2], bgr->data[0], bgr->linesize[0]));
}

void TestReaderIdentity::plainPathsSwitch_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("plain");
    QTest::newRow("unset") << QByteArray() << false;
    QTest::newRow("1") << QByteArray("1") << true;
    QTest::newRow("0") << QByteArray("0") << false;
    QTest::newRow("not a number") << QByteArray("yes") << false;
}

// The switch reaches the converters made after it is set: else the runs
// with KESTRIN_PLAIN_PATHS=1 would check the wide paths a second time.
void TestReaderIdentity::plainPathsSwitch()
{
    QFETCH(QByteArray, value);
    QFETCH(bool, plain);
    const QByteArray before = qgetenv("KESTRIN_PLAIN_PATHS");
    const bool wasSet = qEnvironmentVariableIsSet("KESTRIN_PLAIN_PATHS");
    const auto restore = qScopeGuard([&] {
        if (wasSet)
            qputenv("KESTRIN_PLAIN_PATHS", before);
        else
            qunsetenv("KESTRIN_PLAIN_PATHS");
    });
    if (value.isNull())
        qunsetenv("KESTRIN_PLAIN_PATHS");
    else
        qputenv("KESTRIN_PLAIN_PATHS", value);
#ifdef KESTRIN_X86_SIMD
    const bool avx2 = __builtin_cpu_supports("avx2");
#else
    const bool avx2 = false;
#endif
    QCOMPARE(SimdPaths::plainPathsForced(), plain);
    QCOMPARE(YuvConverter().fast(), avx2 && !plain);
}

QTEST_APPLESS_MAIN(TestReaderIdentity)
#include "test_readeridentity.moc"
