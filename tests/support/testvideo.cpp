#include "testvideo.h"

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

namespace testvideo {

namespace {
constexpr int kBits = 16;
constexpr int kBlock = 16;
} // namespace

bool write(const QString &path, const char *fourcc, double fps, cv::Size size, int count,
    const Painter &paint)
{
    cv::VideoWriter writer(QFile::encodeName(path).toStdString(),
        cv::VideoWriter::fourcc(fourcc[0], fourcc[1], fourcc[2], fourcc[3]), fps, size, true);
    if (!writer.isOpened())
        return false;
    cv::Mat frame(size, CV_8UC3);
    for (int i = 0; i < count; ++i) {
        frame.setTo(cv::Scalar::all(0));
        paint(i, frame);
        writer.write(frame);
    }
    writer.release();
    return true;
}

void paintIndex(cv::Mat &frame, int index)
{
    for (int bit = 0; bit < kBits; ++bit) {
        const bool on = (index >> bit) & 1;
        cv::rectangle(frame, cv::Rect(bit * kBlock, 0, kBlock, kBlock),
            on ? cv::Scalar::all(255) : cv::Scalar::all(0), cv::FILLED);
    }
}

int readIndex(const cv::Mat &frame)
{
    if (frame.empty() || frame.cols < kBits * kBlock || frame.rows < kBlock)
        return -1;
    int index = 0;
    for (int bit = 0; bit < kBits; ++bit) {
        const cv::Rect cell(bit * kBlock + 4, 4, kBlock - 8, kBlock - 8);
        const double level = cv::mean(frame(cell))[0];
        if (level > 170)
            index |= 1 << bit;
        else if (level > 85)
            return -1;
    }
    return index;
}

cv::Mat background(cv::Size size)
{
    cv::Mat bg(size, CV_8UC3);
    for (int y = 0; y < size.height; ++y) {
        auto *row = bg.ptr<cv::Vec3b>(y);
        for (int x = 0; x < size.width; ++x) {
            // Smooth texture: lossy codecs keep it stable from frame to frame.
            const int v = 110 + ((x / 32 + y / 32) % 2) * 20;
            row[x] = cv::Vec3b(static_cast<uchar>(v), static_cast<uchar>(v), static_cast<uchar>(v));
        }
    }
    return bg;
}

bool runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    return process.waitForStarted(10000) && process.waitForFinished(120000)
        && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool encodeTestSource(const QString &size, int frames, const QStringList &output)
{
    return runTool(QStandardPaths::findExecutable(QStringLiteral("ffmpeg")),
        QStringList { QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
            QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
            QStringLiteral("lavfi"), QStringLiteral("-i"),
            QStringLiteral("testsrc2=size=%1:rate=25").arg(size), QStringLiteral("-frames:v"),
            QString::number(frames), QStringLiteral("-c:v"), QStringLiteral("libx264"),
            QStringLiteral("-preset"), QStringLiteral("ultrafast"), QStringLiteral("-pix_fmt"),
            QStringLiteral("yuv420p") }
            + output);
}

} // namespace testvideo
