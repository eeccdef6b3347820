#include "video/clipdecoder.h"

#include <algorithm>
#include <cmath>

#include <QThread>

#include "logging.h"
#include "video/framereader.h"

namespace {

// Reading on over this many frames is cheaper than a new seek.
constexpr double kReadOnFrames = 120;
// For the event's frame alone, whose seek decodes from the key frame before
// it: a gap much longer than that is cheaper sought.
constexpr double kEventReadOnFrames = 40;

bool wanted(const ClipDecoder::Request &r, double index)
{
    if (index < r.first || index > r.last)
        return false;
    const double step = std::fmod(std::fabs(index - r.event), double(std::max(r.stride, 1)));
    return step == 0;
}

} // namespace

ClipDecoder::ClipDecoder(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<ClipDecoder::Clip>();
    thread.reset(QThread::create([this] { run(); }));
    thread->setObjectName(QStringLiteral("clip decoder"));
    thread->start(QThread::LowPriority);
}

ClipDecoder::~ClipDecoder()
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        queue.clear();
    }
    changed.notify_all();
    thread->wait();
}

ClipDecoder::Request ClipDecoder::around(int id, const QString &video, cv::Size frameSize,
    double fps, double eventFrame, cv::Point centre, int side)
{
    const double rate = fps > 0 && std::isfinite(fps) ? fps : 25;
    Request r;
    r.id = id;
    r.video = video;
    r.event = eventFrame;
    r.first = std::max(0.0, eventFrame - std::round(rate));
    r.last = eventFrame + std::round(rate / 2);
    r.stride = std::max(1, static_cast<int>(std::lround(rate / 20)));
    const int w = std::min(side, frameSize.width);
    const int h = std::min(side, frameSize.height);
    const int x = std::clamp(centre.x - w / 2, 0, std::max(0, frameSize.width - w));
    const int y = std::clamp(centre.y - h / 2, 0, std::max(0, frameSize.height - h));
    r.crop = cv::Rect(x, y, w, h);
    return r;
}

ClipDecoder::Request ClipDecoder::eventFrameOf(const Request &clip)
{
    Request r = clip;
    r.first = clip.event;
    r.last = clip.event;
    r.stride = 1;
    r.eventOnly = true;
    return r;
}

void ClipDecoder::request(const QVector<Request> &requests)
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        queue = requests;
    }
    changed.notify_all();
}

void ClipDecoder::run()
{
    for (;;) {
        Request head;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [this] { return stopping || !queue.isEmpty(); });
            if (stopping)
                break;
            head = queue.first();
        }
        sweep(head);
    }
    reader.reset();
}

void ClipDecoder::sweep(const Request &head)
{
    // Clips begun in this pass go on where the reader is; a clip ahead, not
    // far, is read on to rather than sought.
    const double position
        = reader && reader->isOpen() && readerVideo == head.video ? reader->lastIndex() : -1;
    bool started = false;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        started = partial.count(keyOf(head)) > 0;
    }
    const double readOnFrames = head.eventOnly ? kEventReadOnFrames : kReadOnFrames;
    const bool readOn = position >= 0
        && (started || (head.first > position && head.first - position <= readOnFrames));
    if (!readOn) {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            partial.clear();
        }
        // The video open already is sought in: opening it again costs as
        // much as decoding a few frames, for every event's frame.
        const bool sought = reader && reader->isOpen() && readerVideo == head.video
            && reader->seek(static_cast<int>(head.first)).isEmpty();
        QString problem;
        if (!sought) {
            // Few frames decoded ahead: the reader is often sought again soon.
            reader = std::make_unique<FrameReader>(2, FrameReader::Direct, FrameReader::GreyOnly);
            readerVideo = head.video;
            problem = reader->open(head.video, static_cast<int>(head.first));
        }
        if (!problem.isEmpty()) {
            reader.reset();
            Clip failed;
            failed.id = head.id;
            failed.error = problem;
            failed.eventOnly = head.eventOnly;
            {
                const std::lock_guard<std::mutex> lock(mutex);
                queue.erase(std::remove_if(queue.begin(), queue.end(),
                                [&head](const Request &r) { return keyOf(r) == keyOf(head); }),
                    queue.end());
            }
            emit clipReady(failed);
            return;
        }
        take(head.first, reader->startFrame(), head.video);
    }
    for (;;) {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            const bool headLeft = std::any_of(queue.begin(), queue.end(),
                [&head](const Request &r) { return keyOf(r) == keyOf(head); });
            if (stopping || !headLeft)
                return;
        }
        const FrameReader::Frame *frame = reader->next();
        if (!frame) {
            // The video ended: every clip of it that has begun is as long as it gets.
            take(-1, cv::Mat(), head.video);
            reader.reset();
            return;
        }
        // Only the frames a clip keeps are converted to BGR.
        const double index = reader->lastIndex();
        cv::Mat colour = frame->colour;
        if (colour.empty() && wants(index, head.video) && !reader->colourOf(*frame, colour))
            colour.release();
        take(index, colour, head.video);
    }
}

bool ClipDecoder::wants(double index, const QString &video)
{
    const std::lock_guard<std::mutex> lock(mutex);
    return std::any_of(queue.begin(), queue.end(), [&](const Request &r) {
        return r.video == video && wanted(r, index)
            && (index == r.first || partial.count(keyOf(r)) > 0);
    });
}

void ClipDecoder::take(double index, const cv::Mat &frame, const QString &video)
{
    std::vector<Clip> done;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        for (auto it = partial.begin(); it != partial.end();) {
            const bool asked = std::any_of(queue.begin(), queue.end(),
                [&it](const Request &r) { return keyOf(r) == it->first; });
            it = asked ? std::next(it) : partial.erase(it);
        }
        for (int i = 0; i < queue.size();) {
            const Request &r = queue[i];
            const bool started = partial.count(keyOf(r)) > 0;
            const bool ended = index < 0 || index >= r.last;
            if (r.video != video || (!started && index != r.first && index >= 0)) {
                ++i;
                continue;
            }
            if (!started && index < 0) {
                ++i;
                continue;
            }
            Clip &clip = partial[keyOf(r)];
            clip.id = r.id;
            clip.eventOnly = r.eventOnly;
            if (index >= 0 && wanted(r, index) && !frame.empty()) {
                const cv::Rect inside = r.crop & cv::Rect(0, 0, frame.cols, frame.rows);
                clip.frames.push_back(frame(inside).clone());
                clip.indices.push_back(index);
            }
            if (ended) {
                if (clip.frames.empty())
                    clip.error = QStringLiteral("no frame %1").arg(r.first);
                done.push_back(std::move(clip));
                partial.erase(keyOf(r));
                queue.remove(i);
                continue;
            }
            ++i;
        }
    }
    for (const Clip &clip : done)
        emit clipReady(clip);
}
