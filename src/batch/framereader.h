#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>

namespace cv {
class VideoCapture;
}

// Decodes the rest of an open video on a thread of its own, converting each
// frame to 8-bit grey, into a small ring of kept buffers; the caller takes
// the frames in order while the reader decodes the next ones. The frames are
// those a plain loop of read and cvtColor would give.
class FrameReader
{
public:
    // Starts reading `capture` at once; it must outlive the reader and is not
    // touched by anyone else until the reader is destroyed.
    explicit FrameReader(cv::VideoCapture &capture, int depth = 4);
    // Stops the thread and waits for it.
    ~FrameReader();
    FrameReader(const FrameReader &) = delete;
    FrameReader &operator=(const FrameReader &) = delete;

    // The next grey frame, or null at the end of the video (the first failed
    // read). Valid until the next call; the call hands its buffer back.
    const cv::Mat *next();

private:
    struct Slot
    {
        cv::Mat colour;
        cv::Mat grey;
    };

    void run();

    cv::VideoCapture &capture;
    std::vector<Slot> ring;
    std::mutex mutex;
    std::condition_variable changed;
    size_t head = 0; // next slot to hand out
    size_t filled = 0; // decoded slots not yet handed back, the one in use included
    bool holding = false; // the caller holds ring[head - 1]
    bool ended = false;
    bool stopping = false;
    std::thread thread; // last: starts once the members above exist
};
