#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVector>

class FrameReader;
class QThread;

// Decodes short cropped clips around counting events on a thread of its
// own, for the review window. The caller hands it the whole list of clips it
// wants, most wanted first (the visible tiles); a later list replaces the
// earlier one, and a clip no longer asked for is dropped. Clips of one video
// are read in one pass where they lie close together or overlap: the reader
// reads on rather than seeking again. Only the cropped frames are kept.
// A request for the event's frame alone (eventFrameOf) costs one seek and
// one decode, where a clip of a sparse video costs its own second and a half:
// asked for first, it shows every tile of a screen long before their clips.
//
//   ClipDecoder decoder;
//   connect(&decoder, &ClipDecoder::clipReady, tile, ...);
//   const ClipDecoder::Request clip = ClipDecoder::around(7, video, frameSize, fps, event);
//   decoder.request({ ClipDecoder::eventFrameOf(clip), clip });
class ClipDecoder final : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        int id = 0; // the caller's; comes back with the clip
        QString video;
        double first = 0; // frame indices as the capture numbers them
        double last = 0;
        double event = 0; // always among the frames kept
        int stride = 1; // every stride-th frame from `event` is kept
        cv::Rect crop;
        bool eventOnly = false; // the event's frame alone; a request of its own beside the clip's
    };

    struct Clip
    {
        int id = 0;
        std::vector<cv::Mat> frames; // BGR, the crop's size
        std::vector<double> indices; // each frame's index
        QString error; // why there are no frames
        bool eventOnly = false; // as requested
    };

    explicit ClipDecoder(QObject *parent = nullptr);
    // Stops the thread after the frame in hand and waits for it.
    ~ClipDecoder() override;
    Q_DISABLE_COPY(ClipDecoder)

    void request(const QVector<Request> &requests);

    // The clip around an event counted in frame `eventFrame`: a second before
    // to half a second after, at most about 20 frames a second, cropped to
    // `side` x `side` pixels around `centre` (the whole frame where smaller),
    // kept inside the frame.
    static Request around(int id, const QString &video, cv::Size frameSize, double fps,
        double eventFrame, cv::Point centre, int side = 160);
    // The request for the event's frame of `clip`, cropped alike.
    static Request eventFrameOf(const Request &clip);

signals:
    // From the decoding thread; connect with a queued (or automatic) connection.
    void clipReady(const ClipDecoder::Clip &clip);

private:
    void run();
    // Reads frames of `head`'s video, cropping for every asked-for clip they
    // belong to, until `head` is done or no longer asked for.
    void sweep(const Request &head);
    // Whether a clip asked for keeps frame `index` of `video`.
    bool wants(double index, const QString &video);
    void take(double index, const cv::Mat &frame, const QString &video);

    std::unique_ptr<QThread> thread;
    std::unique_ptr<FrameReader> reader;
    QString readerVideo;
    std::mutex mutex;
    std::condition_variable changed;
    QVector<Request> queue;
    // A request's id and whether it is for the event's frame alone.
    using Key = std::pair<int, bool>;
    static Key keyOf(const Request &r) { return { r.id, r.eventOnly }; }

    std::map<Key, Clip> partial; // clips being filled
    bool stopping = false;
};

Q_DECLARE_METATYPE(ClipDecoder::Clip)
