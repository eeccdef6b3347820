#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <QString>

class VideoDecoder;

// Reads a video for processing: opens it as every run does (frame
// ProcessRun::kStartFrame, 90, read),
// then decodes the frames after it on a thread of its own, a few ahead, each
// in BGR and in 8-bit grey, into a small ring of buffers it reuses. The
// frames are those cv::VideoCapture gives for the same indices, byte for
// byte: FFmpeg's libraries are driven as the capture drives them (see
// VideoDecoder), and a file that cannot be read so exactly is read through
// the capture itself.
//
//   FrameReader reader;
//   if (!reader.open(path, ProcessRun::kStartFrame).isEmpty()) ... // the reason
//   reader.startFrame();                           // frame 90
//   while (const FrameReader::Frame *frame = reader.next())
//       use(frame->grey, frame->colour);           // frames 91, 92, ...
//   if (reader.end() != FrameReader::Complete) warn(reader.endReport());
//
// It knows how the video ended: at its last frame, well before the frame
// count it declares, or at a frame whose size differs from the first (which
// is never converted, and never handed out).
class FrameReader
{
public:
    struct Frame
    {
        cv::Mat colour; // BGR; may be a view into a larger buffer; may be empty with GreyOnly
        cv::Mat grey;
    };
    enum End {
        Reading, // next() has not returned null yet
        Complete,
        Early, // frames ran out well before the declared count
        SizeChanged, // a frame of another size than the first
        Unreadable, // a frame that could not be converted
    };

    enum Route {
        Direct, // FFmpeg's libraries where they give the capture's frames
        CaptureOnly, // always the capture (comparisons, tests)
    };

    enum Colour {
        EveryFrame, // every frame in BGR and grey
        GreyOnly, // the frames after the start frame may come without BGR, when that saves work
    };

    explicit FrameReader(int depth = 4, Route route = Direct, Colour colour = EveryFrame);
    // Stops the thread and waits for it.
    ~FrameReader();
    FrameReader(const FrameReader &) = delete;
    FrameReader &operator=(const FrameReader &) = delete;

    // Opens a video with the FFmpeg backend, handing OpenCV the path in the
    // file system's own encoding. Every video is opened through this, by the
    // run, the window and the batch program alike, so all of them decode
    // exactly the same frames.
    static bool openCapture(cv::VideoCapture &capture, const QString &videoPath);

    // Opens `path` and reads frame `start`; the following frames are then
    // decoded ahead. Empty on success, else the reason ("it cannot be
    // opened", "it has no frame 90").
    QString open(const QString &path, int start);
    void close();
    // Reads frame `start` of the open video as open() would, without opening
    // it again; the frames after it are then decoded ahead. Empty on
    // success, else the reason. Only for a video read directly: a reader
    // reading through the capture refuses and reads on as before; a seek
    // that fails closes the reader (open() may still read the frame through
    // the capture).
    QString seek(int start);
    bool isOpen() const { return opened; }
    // Read with FFmpeg's libraries directly rather than through the capture.
    bool direct() const { return decoder != nullptr; }

    // As cv::VideoCapture reports them.
    double fps() const { return framesPerSecond; }
    double frameCount() const { return declaredFrames; }
    cv::Size frameSize() const { return size; }
    const cv::Mat &startFrame() const { return first; }

    // The next frame, or null at the end of the video. Valid until the next
    // call; the call hands its buffers back.
    const Frame *next();
    // The BGR image of `frame`, the one next() handed out last, into `bgr`:
    // made now if the reader left it out (GreyOnly). False if it cannot be.
    bool colourOf(const Frame &frame, cv::Mat &bgr) const;
    End end() const;
    // Index of the last frame handed out (the start frame before any).
    double lastIndex() const;
    // For a video that did not end Complete: "ended at frame F of N declared"
    // and why. Empty otherwise.
    QString endReport() const;

    // A shortfall of more than 1 % of the declared count and more than one
    // second of video is an early end.
    static bool endedEarly(double lastIndex, double declared, double fps);

private:
    bool openDirect(const QString &path, int start);
    bool decodeFrame(Frame &frame, int buffer, double index, End &why);
    bool convertFrame(Frame &frame, int buffer) const;
    void findSizeChange(const QString &path);
    void run();
    void convertAll();
    void stop();
    void resetReading();

    std::vector<Frame> ring;
    Route route;
    Colour colour;
    cv::VideoCapture capture;
    std::unique_ptr<VideoDecoder> decoder;
    bool opened = false;
    double framesPerSecond = 0;
    double declaredFrames = 0;
    cv::Size size;
    cv::Mat first;
    double startIndex = 0;
    cv::Size changedTo; // the size of the frame that ended the video
    double sizeChangeAt = -1; // through the capture: the first frame of another size

    mutable std::mutex mutex;
    std::condition_variable roomChanged; // the decoding thread waits for a free slot
    std::condition_variable decodedChanged; // the converting one for a decoded frame
    std::condition_variable readyChanged; // next() for a converted frame
    size_t head = 0; // next slot to hand out
    size_t filled = 0; // converted slots not yet handed back, the one in use included
    size_t pending = 0; // decoded slots after those, waiting for their conversion
    bool holding = false; // the caller holds ring[head - 1]
    bool decodeEnded = false;
    End decodeEnding = Reading;
    bool ended = false;
    bool stopping = false;
    End ending = Reading;
    double handedOut = 0; // frames handed out
    std::thread thread; // decodes
    std::thread converting; // converts what it decoded
};
