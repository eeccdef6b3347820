#include "framereader.h"

#include <exception>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "logging.h"

FrameReader::FrameReader(cv::VideoCapture &capture, int depth)
    : capture(capture)
    , ring(static_cast<size_t>(depth < 2 ? 2 : depth))
    , thread(&FrameReader::run, this)
{
}

FrameReader::~FrameReader()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    thread.join();
}

const cv::Mat *FrameReader::next()
{
    std::unique_lock<std::mutex> lock(mutex);
    if (holding) {
        holding = false;
        head = (head + 1) % ring.size();
        --filled;
        changed.notify_all();
    }
    changed.wait(lock, [this] { return filled > 0 || ended; });
    if (filled == 0)
        return nullptr;
    holding = true;
    return &ring[head].grey;
}

void FrameReader::run()
{
    size_t tail = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [this] { return filled < ring.size() || stopping; });
            if (stopping)
                break;
        }
        // The slot at `tail` is free: the caller neither holds nor waits for it.
        Slot &slot = ring[tail];
        bool read = false;
        try {
            read = capture.read(slot.colour) && !slot.colour.empty();
            if (read && slot.colour.type() == CV_8UC1)
                slot.colour.copyTo(slot.grey);
            else if (read)
                cv::cvtColor(slot.colour, slot.grey, cv::COLOR_BGR2GRAY);
        } catch (const std::exception &e) {
            qCWarning(lcBatch, "Reading stopped: %s", e.what());
            read = false;
        }
        std::lock_guard<std::mutex> lock(mutex);
        if (!read) {
            ended = true;
            changed.notify_all();
            break;
        }
        tail = (tail + 1) % ring.size();
        ++filled;
        changed.notify_all();
    }
}
