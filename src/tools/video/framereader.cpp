#include "video/framereader.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <QFile>

#include "logging.h"
#include "video/videodecoder.h"

namespace {

QString sizeText(const cv::Size &size)
{
    return QStringLiteral("%1x%2").arg(size.width).arg(size.height);
}

} // namespace

FrameReader::FrameReader(int depth, Route route, Colour colour)
    : ring(static_cast<size_t>(depth < 2 ? 2 : depth))
    , route(route)
    , colour(colour)
{
}

FrameReader::~FrameReader()
{
    stop();
}

bool FrameReader::openCapture(cv::VideoCapture &capture, const QString &videoPath)
{
    if (videoPath.isEmpty())
        return false;
    return capture.open(QFile::encodeName(videoPath).toStdString(), cv::CAP_FFMPEG);
}

QString FrameReader::open(const QString &path, int start)
{
    close();
    if (!openCapture(capture, path) || !capture.isOpened())
        return QStringLiteral("it cannot be opened");
    framesPerSecond = capture.get(cv::CAP_PROP_FPS);
    declaredFrames = capture.get(cv::CAP_PROP_FRAME_COUNT);
    startIndex = start;

    if (route == CaptureOnly || !openDirect(path, start)) {
        // The capture reads it: its own seek, its own frames.
        capture.set(cv::CAP_PROP_POS_FRAMES, start);
        if (!capture.read(first) || first.empty()) {
            capture.release();
            first.release();
            return QStringLiteral("it has no frame %1").arg(start);
        }
    }
    size = first.size();
    if (!decoder)
        findSizeChange(path);
    opened = true;
    thread = std::thread(&FrameReader::run, this);
    converting = std::thread(&FrameReader::convertAll, this);
    return QString();
}

bool FrameReader::openDirect(const QString &path, int start)
{
    auto direct = std::make_unique<VideoDecoder>(static_cast<int>(ring.size()));
    QString why = direct->open(path, framesPerSecond, declaredFrames);
    cv::Mat frame;
    if (why.isEmpty() && !direct->seek(start))
        why = QStringLiteral("its frames are not numbered as the capture numbers them");
    else if (why.isEmpty() && !direct->grab())
        why = QStringLiteral("no frame %1").arg(start);
    else if (why.isEmpty() && !direct->retrieve(0, frame))
        why = QStringLiteral("frame %1 cannot be converted").arg(start);
    if (!why.isEmpty()) {
        qCDebug(lcImgproc).noquote() << "Reading" << path << "through the capture:" << why;
        return false;
    }
    frame.copyTo(first);
    decoder = std::move(direct);
    capture.release();
    return true;
}

void FrameReader::findSizeChange(const QString &path)
{
    VideoDecoder probe;
    if (!probe.open(path, framesPerSecond, declaredFrames).isEmpty())
        return;
    cv::Size other;
    const int64_t at = probe.findSizeChange(other);
    if (at < 0)
        return;
    // The capture's decoding threads meet the new size a few frames before
    // it converts them, and then convert an older frame as if it had that
    // size: its reading stops that far ahead.
    sizeChangeAt
        = std::max<double>(startIndex + 1, static_cast<double>(at) - cv::getNumberOfCPUs() - 2);
    changedTo = other;
    qCDebug(lcImgproc).noquote() << path << "changes its frame size at frame" << at;
}

void FrameReader::close()
{
    stop();
    decoder.reset();
    capture.release();
    opened = false;
    first.release();
    size = cv::Size();
    changedTo = cv::Size();
    sizeChangeAt = -1;
    resetReading();
}

void FrameReader::resetReading()
{
    head = 0;
    filled = 0;
    pending = 0;
    holding = false;
    decodeEnded = false;
    decodeEnding = Reading;
    ended = false;
    stopping = false;
    ending = Reading;
    handedOut = 0;
}

QString FrameReader::seek(int start)
{
    if (!opened || !decoder)
        return QStringLiteral("it is not read directly");
    stop();
    resetReading();
    cv::Mat frame;
    if (!decoder->seek(start) || !decoder->grab() || decoder->sizeChanged()
        || !decoder->retrieve(0, frame)) {
        close();
        return QStringLiteral("it has no frame %1").arg(start);
    }
    frame.copyTo(first);
    startIndex = start;
    thread = std::thread(&FrameReader::run, this);
    converting = std::thread(&FrameReader::convertAll, this);
    return QString();
}

void FrameReader::stop()
{
    if (!thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    roomChanged.notify_all();
    decodedChanged.notify_all();
    thread.join();
    converting.join();
}

const FrameReader::Frame *FrameReader::next()
{
    if (!thread.joinable())
        return nullptr;
    std::unique_lock<std::mutex> lock(mutex);
    if (holding) {
        holding = false;
        head = (head + 1) % ring.size();
        --filled;
        roomChanged.notify_one();
    }
    readyChanged.wait(lock, [this] { return filled > 0 || ended; });
    if (filled == 0)
        return nullptr;
    holding = true;
    handedOut += 1;
    return &ring[head];
}

bool FrameReader::colourOf(const Frame &frame, cv::Mat &bgr) const
{
    if (!frame.colour.empty()) {
        frame.colour.copyTo(bgr);
        return true;
    }
    const ptrdiff_t slot = &frame - ring.data();
    if (!decoder || slot < 0 || slot >= static_cast<ptrdiff_t>(ring.size()))
        return false;
    return decoder->colourOf(static_cast<int>(slot), bgr);
}

FrameReader::End FrameReader::end() const
{
    std::lock_guard<std::mutex> lock(mutex);
    // Over only once every decoded frame has been handed out.
    return ended && filled == 0 ? ending : Reading;
}

double FrameReader::lastIndex() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return startIndex + handedOut;
}

bool FrameReader::endedEarly(double lastIndex, double declared, double fps)
{
    const double missing = declared - (lastIndex + 1);
    if (!(missing > 0.01 * declared))
        return false;
    return !(std::isfinite(fps) && fps > 0) || missing > fps;
}

QString FrameReader::endReport() const
{
    const End why = end();
    const QString at = QStringLiteral("ended at frame %1 of %2 declared")
                           .arg(lastIndex(), 0, 'g', 12)
                           .arg(declaredFrames, 0, 'g', 12);
    switch (why) {
    case Reading:
    case Complete:
        return QString();
    case Early:
        return at;
    case SizeChanged:
        return at
            + QStringLiteral(": its frames change size to %1 from %2")
                  .arg(sizeText(changedTo), sizeText(size));
    case Unreadable:
        return at + QStringLiteral(": the next frame cannot be converted");
    }
    return QString();
}

bool FrameReader::decodeFrame(Frame &frame, int buffer, double index, End &why)
{
    if (decoder) {
        if (!decoder->grab()) {
            why = Complete;
            return false;
        }
        // Caught before the conversion, which would read it as the first.
        if (decoder->sizeChanged()) {
            changedTo = decoder->frameSize();
            why = SizeChanged;
            return false;
        }
        if (!decoder->keep(buffer)) {
            why = Unreadable;
            return false;
        }
        return true;
    }
    if (sizeChangeAt >= 0 && index >= sizeChangeAt) {
        why = SizeChanged;
        return false;
    }
    if (!capture.read(frame.colour) || frame.colour.empty()) {
        why = Complete;
        return false;
    }
    if (frame.colour.size() != size || frame.colour.type() != first.type()) {
        changedTo = frame.colour.size();
        why = SizeChanged;
        return false;
    }
    return true;
}

bool FrameReader::convertFrame(Frame &frame, int buffer) const
{
    if (decoder)
        return decoder->convert(buffer, frame.colour, &frame.grey, colour == EveryFrame);
    if (frame.colour.type() == CV_8UC1)
        frame.colour.copyTo(frame.grey);
    else
        cv::cvtColor(frame.colour, frame.grey, cv::COLOR_BGR2GRAY);
    return true;
}

// Decodes into the free slots, in order; convertAll() converts them after it.
void FrameReader::run()
{
    size_t tail = 0;
    double index = startIndex;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            roomChanged.wait(lock, [this] { return filled + pending < ring.size() || stopping; });
            if (stopping)
                break;
        }
        // The slot at `tail` is free: no one else reads or writes it.
        End why = Complete;
        bool read = false;
        try {
            read = decodeFrame(ring[tail], static_cast<int>(tail), index + 1, why);
        } catch (const std::exception &e) {
            qCWarning(lcImgproc, "Reading stopped: %s", e.what());
            why = Unreadable;
        }
        index += 1;
        std::lock_guard<std::mutex> lock(mutex);
        if (!read) {
            if (why == Complete && endedEarly(index - 1, declaredFrames, framesPerSecond))
                why = Early;
            decodeEnding = why;
            decodeEnded = true;
            decodedChanged.notify_one();
            break;
        }
        tail = (tail + 1) % ring.size();
        ++pending;
        decodedChanged.notify_one();
    }
}

void FrameReader::convertAll()
{
    size_t at = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            decodedChanged.wait(lock, [this] { return pending > 0 || decodeEnded || stopping; });
            if (stopping)
                break;
            if (pending == 0) {
                // Every decoded frame is converted: the video is over.
                ending = decodeEnding;
                ended = true;
                readyChanged.notify_one();
                break;
            }
        }
        bool converted = false;
        try {
            converted = convertFrame(ring[at], static_cast<int>(at));
        } catch (const std::exception &e) {
            qCWarning(lcImgproc, "Reading stopped: %s", e.what());
        }
        std::lock_guard<std::mutex> lock(mutex);
        if (!converted) {
            // The frames decoded after it are never handed out.
            ending = Unreadable;
            ended = true;
            stopping = true;
            readyChanged.notify_one();
            roomChanged.notify_one();
            break;
        }
        at = (at + 1) % ring.size();
        --pending;
        ++filled;
        readyChanged.notify_one();
    }
}
