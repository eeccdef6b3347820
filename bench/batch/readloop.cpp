// The floor for any program that needs every frame in BGR: a plain loop of
// cv::VideoCapture::read over a video, opened as every Kestrin program opens
// one. Prints the frames read and frames per second.
//
//   kestrin-bench-read VIDEO

#include <chrono>
#include <cstdio>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <QString>

#include "videofiles.h"

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: kestrin-bench-read VIDEO\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    cv::VideoCapture capture;
    if (!VideoFiles::openCapture(capture, QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "kestrin-bench-read: cannot open %s\n", argv[1]);
        return 1;
    }
    cv::Mat frame;
    long frames = 0;
    while (capture.read(frame))
        ++frames;
    const double seconds
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%ld frames in %.2f s: %.1f fps\n", frames, seconds, frames / seconds);
    return 0;
}
