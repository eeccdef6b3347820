#pragma once

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include <QString>

#include "video/greyconverter.h"
#include "video/yuvconverter.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwsContext;

// Decodes a video with FFmpeg's libraries exactly as cv::VideoCapture's FFmpeg
// backend of OpenCV 4.6 does, so that every frame has the same index and the
// same BGR bytes: the same stream, packets and decoder, the same frame
// numbering and seeking, and the same conversion (over the coded size, to
// BGR24 with SWS_BICUBIC, into a buffer aligned to 32 bytes, of which the
// visible part is the frame). What it saves is the capture's copy of every
// frame into the caller's image, and it reports a frame whose size differs
// from the first instead of converting it.
//
//   VideoDecoder decoder(4);                  // four output buffers
//   decoder.open(path, capture.get(CAP_PROP_FPS), capture.get(CAP_PROP_FRAME_COUNT));
//   decoder.seek(90);
//   while (decoder.grab() && !decoder.sizeChanged())
//       decoder.retrieve(slot, bgr);          // bgr: a view into buffer `slot`
//
// Not thread-safe: one thread drives it, but for keep() and convert().
class VideoDecoder
{
public:
    explicit VideoDecoder(int buffers = 1);
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder &) = delete;
    VideoDecoder &operator=(const VideoDecoder &) = delete;

    // `fps` and `frameCount` are what cv::VideoCapture reports for the file:
    // seeking numbers frames with them. Empty on success, else why the file
    // cannot be read this way (the caller then reads it with the capture).
    QString open(const QString &path, double fps, double frameCount);
    void close();
    bool isOpen() const { return format != nullptr; }

    // CAP_PROP_POS_FRAMES = index: the next grab gives frame `index`. False
    // when the seek met something the capture would number differently
    // (no time stamp, no frame): the decoder should not be used then.
    bool seek(int64_t index);
    // Decodes the next frame; false at the end of the video.
    bool grab();
    // Visible size of the last grabbed frame and of the first one.
    cv::Size frameSize() const;
    cv::Size firstSize() const { return first; }
    bool sizeChanged() const { return frameSize() != first; }
    // Converts the last grabbed frame into output buffer `buffer` (0 to
    // buffers - 1); `bgr` becomes a view of its visible part, valid until the
    // buffer is converted into again. False when the frame cannot be
    // converted (its size changed, or no conversion exists for its format).
    // With `grey`, that is made too (as cv::cvtColor of `bgr` would), into a
    // buffer kept from the last call.
    bool retrieve(int buffer, cv::Mat &bgr, cv::Mat *grey = nullptr);
    // retrieve() in two steps, so that one thread can decode the next frames
    // while another converts: keep() holds on to the last grabbed frame for
    // `buffer` (false without one), convert() converts what was kept for it.
    // convert() shares nothing with grab() and keep() but the buffer, which
    // one thread at a time may use.
    bool keep(int buffer);
    // Without `colour`, `bgr` may come back empty where making the grey image
    // did not need it.
    bool convert(int buffer, cv::Mat &bgr, cv::Mat *grey = nullptr, bool colour = true);
    // The BGR image convert() left out for `buffer`, into `bgr`. Safe beside
    // grab(), keep() and convert() of other buffers.
    bool colourOf(int buffer, cv::Mat &bgr) const;

    // Looks through the rest of the file, decoding key frames only (a new
    // frame size starts at one), for the first frame whose size differs from
    // the first frame's: its index as the capture numbers frames, or -1.
    // `size` gets that frame's size. Meant for a decoder of its own.
    int64_t findSizeChange(cv::Size &size);

    // The capture's frame counter: the index of the next frame.
    int64_t position() const { return frameNumber; }
    // Rotation the file asks players to apply, in degrees (0 for none).
    static int rotation(AVStream *stream);

private:
    int64_t toFrameNumber(int64_t timestamp);
    bool yuvConverterMatches();

    AVFormatContext *format = nullptr;
    AVCodecContext *codec = nullptr;
    AVStream *stream = nullptr;
    int streamIndex = -1;
    AVPacket *packet = nullptr;
    AVFrame *picture = nullptr;
    SwsContext *converter = nullptr;
    GreyConverter greyConverter;
    YuvConverter yuvConverter;
    int yuvChecked = -1; // whether yuvConverter converts as libswscale does here
    std::vector<AVFrame *> outputs;
    std::vector<AVFrame *> kept; // decoded frames waiting for their conversion

    double fps = 0;
    int64_t totalFrames = 0;
    int64_t frameNumber = 0;
    int64_t firstFrameNumber = -1;
    int64_t picturePts = 0;
    bool pictureValid = false;
    bool numbered = true; // every time stamp so far was usable
    cv::Size first;
    cv::Size coded; // of the first frame: what every conversion covers
};
