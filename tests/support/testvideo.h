#pragma once

#include <functional>

#include <opencv2/core.hpp>

#include <QString>
#include <QStringList>

namespace testvideo {

// Paints frame `index` into a BGR image of the requested size.
using Painter = std::function<void(int index, cv::Mat &frame)>;

// Writes `count` frames with cv::VideoWriter. `fourcc` is four characters
// ("avc1", "mp4v", "MJPG"). Returns false when the writer cannot be opened.
bool write(const QString &path, const char *fourcc, double fps, cv::Size size, int count,
    const Painter &paint);

// Encodes `index` as 16 black or white blocks along the top of the frame;
// survives lossy codecs at any quality the tests use. Needs a width of 256
// and a height of 16 at least.
void paintIndex(cv::Mat &frame, int index);

// Reads back what paintIndex wrote, or -1 when the pattern is unreadable.
int readIndex(const cv::Mat &frame);

// A mid-grey background with a fixed texture, the same for every frame.
cv::Mat background(cv::Size size);

// Runs a tool to its end, its errors forwarded; true when it exited 0.
bool runTool(const QString &program, const QStringList &arguments);

// `frames` frames of ffmpeg's testsrc2 at 25 frames per second in H.264
// (yuv420p), written with the ffmpeg options `output` (format and path).
bool encodeTestSource(const QString &size, int frames, const QStringList &output);

} // namespace testvideo
