#pragma once

#include <functional>

#include <opencv2/core.hpp>

#include <QString>

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

} // namespace testvideo
