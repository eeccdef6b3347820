// The floor for any program that needs every frame in BGR: a plain loop of
// cv::VideoCapture::read over a video, opened as every Kestrin program opens
// one. With --reader, the frame reader of the processing runs instead, alone:
// frame 90 as every run opens a video, then every later frame in BGR and
// grey, decoded on its own thread. Prints the frames read and frames per
// second.
//
//   kestrin-bench-read [--reader] VIDEO

#include <chrono>
#include <cstdio>
#include <cstring>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <QString>

#include "run/processrun.h"
#include "video/framereader.h"
#include "zones/videofiles.h"

namespace {

long captureLoop(const QString &path)
{
    cv::VideoCapture capture;
    if (!FrameReader::openCapture(capture, path))
        return -1;
    cv::Mat frame;
    long frames = 0;
    while (capture.read(frame))
        ++frames;
    return frames;
}

long readerLoop(const QString &path)
{
    FrameReader reader;
    if (!reader.open(path, ProcessRun::kStartFrame).isEmpty())
        return -1;
    long frames = ProcessRun::kStartFrame + 1;
    while (reader.next())
        ++frames;
    return frames;
}

} // namespace

int main(int argc, char *argv[])
{
    const bool reader = argc == 3 && std::strcmp(argv[1], "--reader") == 0;
    if (argc != 2 && !reader) {
        std::fprintf(stderr, "usage: kestrin-bench-read [--reader] VIDEO\n");
        return 2;
    }
    const char *video = argv[argc - 1];
    const auto start = std::chrono::steady_clock::now();
    const QString path = QString::fromLocal8Bit(video);
    const long frames = reader ? readerLoop(path) : captureLoop(path);
    if (frames < 0) {
        std::fprintf(stderr, "kestrin-bench-read: cannot open %s\n", video);
        return 1;
    }
    const double seconds
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%ld frames in %.2f s: %.1f fps\n", frames, seconds, frames / seconds);
    return 0;
}
