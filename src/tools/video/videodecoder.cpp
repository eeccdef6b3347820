#include "video/videodecoder.h"

#include <algorithm>
#include <climits>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <opencv2/core/utility.hpp>

#include <QFile>

#include "logging.h"

namespace {

// The capture gives up on a frame after this many packets of other streams
// or failed receives.
constexpr int kMaxAttempts = 1 << 9;
// The capture's buffer alignment for the converted frame.
constexpr int kAlign = 32;
// Rows converted, and made grey, at a time: a band of a 1920 wide frame fits
// in the second-level cache. A multiple of any chroma subsampling.
constexpr int kBandRows = 64;
// Frame numbers and time stamps below this convert to int64_t, and so do
// differences of two of them.
constexpr double kInt64Limit = 4e18;

double toDouble(AVRational r)
{
    return r.num == 0 || r.den == 0 ? 0. : static_cast<double>(r.num) / r.den;
}

QString averror(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromLocal8Bit(text);
}

} // namespace

VideoDecoder::VideoDecoder(int buffers)
    : outputs(static_cast<size_t>(std::max(buffers, 1)), nullptr)
    , kept(outputs.size(), nullptr)
{
}

VideoDecoder::~VideoDecoder()
{
    close();
}

QString VideoDecoder::open(const QString &path, double framesPerSecond, double frameCount)
{
    close();
    const QByteArray name = QFile::encodeName(path);
    int ret = avformat_open_input(&format, name.constData(), nullptr, nullptr);
    if (ret < 0) {
        format = nullptr;
        return QStringLiteral("cannot open: %1").arg(averror(ret));
    }
    ret = avformat_find_stream_info(format, nullptr);
    if (ret < 0) {
        close();
        return QStringLiteral("no stream information: %1").arg(averror(ret));
    }
    // The capture takes the first video stream, whatever it holds.
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            streamIndex = static_cast<int>(i);
            stream = format->streams[i];
            break;
        }
    }
    if (!stream) {
        close();
        return QStringLiteral("no video stream");
    }
    // The capture turns such frames; that is not reproduced here.
    if (const int degrees = rotation(stream)) {
        close();
        return QStringLiteral("frames rotated by %1 degrees").arg(degrees);
    }
    if (stream->start_time == AV_NOPTS_VALUE) {
        close();
        return QStringLiteral("no start time");
    }
    const AVCodec *decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!decoder) {
        close();
        return QStringLiteral("no decoder");
    }
    codec = avcodec_alloc_context3(decoder);
    if (!codec || avcodec_parameters_to_context(codec, stream->codecpar) < 0) {
        close();
        return QStringLiteral("no decoder context");
    }
    // Decoding threads do not change a single pixel. Twice the capture's
    // let the decoder run ahead while the last frame is converted; past 16,
    // each one more only delays the first frame and holds more memory.
    const int processors = cv::getNumberOfCPUs();
    codec->thread_count = std::max(processors, std::min(2 * processors, 16));
    ret = avcodec_open2(codec, decoder, nullptr);
    if (ret < 0) {
        close();
        return QStringLiteral("cannot open the decoder: %1").arg(averror(ret));
    }
    packet = av_packet_alloc();
    picture = av_frame_alloc();
    for (AVFrame *&output : outputs)
        output = av_frame_alloc();
    for (AVFrame *&frame : kept)
        frame = av_frame_alloc();
    if (!packet || !picture || std::find(outputs.begin(), outputs.end(), nullptr) != outputs.end()
        || std::find(kept.begin(), kept.end(), nullptr) != kept.end()) {
        close();
        return QStringLiteral("out of memory");
    }
    fps = framesPerSecond;
    if (!(std::isfinite(frameCount) && std::abs(frameCount) < 1e15) || !(fps > 0)
        || !std::isfinite(fps)) {
        close();
        return QStringLiteral("no usable frame rate or frame count");
    }
    totalFrames = static_cast<int64_t>(frameCount);
    return QString();
}

void VideoDecoder::close()
{
    sws_freeContext(converter);
    converter = nullptr;
    for (AVFrame *&output : outputs)
        av_frame_free(&output);
    for (AVFrame *&frame : kept)
        av_frame_free(&frame);
    av_frame_free(&picture);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    stream = nullptr;
    streamIndex = -1;
    frameNumber = 0;
    firstFrameNumber = -1;
    picturePts = 0;
    pictureValid = false;
    numbered = true;
    first = cv::Size();
    coded = cv::Size();
}

int VideoDecoder::rotation(AVStream *stream)
{
    const uint8_t *matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (!matrix)
        return 0;
    const double angle = av_display_rotation_get(reinterpret_cast<const int32_t *>(matrix));
    if (!std::isfinite(angle))
        return 0;
    return static_cast<int>(std::lround(angle)) % 360;
}

int64_t VideoDecoder::toFrameNumber(int64_t timestamp)
{
    // The capture's arithmetic; a time stamp it would overflow on (a broken
    // file) makes the numbers unusable instead.
    int64_t offset = 0;
    if (__builtin_sub_overflow(timestamp, stream->start_time, &offset)) {
        numbered = false;
        return 0;
    }
    const double number = fps * (static_cast<double>(offset) * toDouble(stream->time_base)) + 0.5;
    if (!(std::abs(number) < kInt64Limit)) {
        numbered = false;
        return 0;
    }
    return static_cast<int64_t>(number);
}

bool VideoDecoder::grab()
{
    if (!format)
        return false;
    pictureValid = false;
    // The capture stops past the count the container declares.
    if (stream->nb_frames > 0 && frameNumber > stream->nb_frames)
        return false;

    int errors = 0;
    bool valid = avcodec_receive_frame(codec, picture) >= 0;
    while (!valid) {
        av_packet_unref(packet);
        int ret = av_read_frame(format, packet);
        if (ret == AVERROR(EAGAIN))
            continue;
        if (ret == AVERROR_EOF) {
            // Drains the frames the decoder still holds.
            packet->data = nullptr;
            packet->size = 0;
            packet->stream_index = streamIndex;
        }
        if (packet->stream_index != streamIndex) {
            av_packet_unref(packet);
            if (++errors > kMaxAttempts)
                break;
            continue;
        }
        if (avcodec_send_packet(codec, packet) < 0)
            break;
        ret = avcodec_receive_frame(codec, picture);
        if (ret >= 0)
            valid = true;
        else if (ret == AVERROR(EAGAIN))
            continue;
        else if (++errors > kMaxAttempts)
            break;
    }
    av_packet_unref(packet);
    if (!valid)
        return false;

    const int64_t pts
        = picture->pts != AV_NOPTS_VALUE && picture->pts != 0 ? picture->pts : picture->pkt_dts;
    // Only seeking uses the numbers; a frame without one makes a later seek
    // unlike the capture's.
    numbered = numbered && pts != AV_NOPTS_VALUE;
    picturePts = pts;
    pictureValid = true;
    ++frameNumber;
    if (firstFrameNumber < 0 && numbered)
        firstFrameNumber = toFrameNumber(picturePts);
    if (first.empty()) {
        first = cv::Size(picture->width, picture->height);
        coded = cv::Size(codec->coded_width, codec->coded_height);
    }
    return true;
}

bool VideoDecoder::seek(int64_t index)
{
    if (!format)
        return false;
    index = std::min(index, totalFrames);
    int delta = 16;
    // The first frame numbers the others.
    if (firstFrameNumber < 0 && totalFrames > 1 && (!grab() || !numbered))
        return false;
    for (;;) {
        const int64_t from = std::max<int64_t>(index - delta, 0);
        const double seconds = static_cast<double>(from) / fps;
        const double timeBase = toDouble(stream->time_base);
        if (!(timeBase > 0))
            return false;
        const double offset = seconds / timeBase + 0.5;
        if (!(std::abs(offset) < kInt64Limit))
            return false;
        int64_t timestamp = 0;
        if (__builtin_add_overflow(stream->start_time, static_cast<int64_t>(offset), &timestamp))
            return false;
        if (totalFrames > 1)
            av_seek_frame(format, streamIndex, timestamp, AVSEEK_FLAG_BACKWARD);
        avcodec_flush_buffers(codec);
        if (index <= 0) {
            frameNumber = 0;
            return true;
        }
        if (!grab() || !numbered)
            return false;
        if (index == 1) {
            frameNumber = 1;
            return true;
        }
        frameNumber = toFrameNumber(picturePts) - firstFrameNumber;
        if (!numbered)
            return false;
        if (frameNumber < 0 || frameNumber > index - 1) {
            if (from == 0 || delta >= INT_MAX / 4)
                return true;
            delta = delta < 16 ? delta * 2 : delta * 3 / 2;
            continue;
        }
        while (frameNumber < index - 1) {
            if (!grab())
                break;
        }
        ++frameNumber;
        return true;
    }
}

int64_t VideoDecoder::findSizeChange(cv::Size &size)
{
    if (!format)
        return -1;
    codec->skip_frame = AVDISCARD_NONKEY;
    while (grab()) {
        if (!sizeChanged())
            continue;
        size = frameSize();
        return numbered ? toFrameNumber(picturePts) - firstFrameNumber : 0;
    }
    return -1;
}

cv::Size VideoDecoder::frameSize() const
{
    if (!pictureValid)
        return cv::Size();
    return cv::Size(picture->width, picture->height);
}

bool VideoDecoder::retrieve(int buffer, cv::Mat &bgr, cv::Mat *grey)
{
    return keep(buffer) && convert(buffer, bgr, grey);
}

bool VideoDecoder::colourOf(int buffer, cv::Mat &bgr) const
{
    if (buffer < 0 || buffer >= static_cast<int>(kept.size()) || yuvChecked != 1)
        return false;
    const AVFrame *source = kept[static_cast<size_t>(buffer)];
    if (!source->data[0] || source->format != AV_PIX_FMT_YUV420P
        || cv::Size(source->width, source->height) != first)
        return false;
    bgr.create(first, CV_8UC3);
    std::vector<uint8_t> grey(static_cast<size_t>(first.width));
    for (int row = 0; row < first.height; ++row) {
        const ptrdiff_t chroma = row / 2;
        yuvConverter.convertRow(source->data[0] + row * ptrdiff_t(source->linesize[0]),
            source->data[1] + chroma * source->linesize[1],
            source->data[2] + chroma * source->linesize[2], first.width, bgr.ptr<uint8_t>(row),
            grey.data());
    }
    return true;
}

bool VideoDecoder::yuvConverterMatches()
{
    if (yuvChecked >= 0)
        return yuvChecked == 1;
    yuvChecked = 0;
    if (!yuvConverter.fast() || !greyConverter.exact())
        return false;
    // The reference converts as every frame would be converted.
    const int side = YuvConverter::kCheckSize;
    SwsContext *reference = sws_getContext(side, side, AV_PIX_FMT_YUV420P, side, side,
        AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    AVFrame *in = av_frame_alloc();
    AVFrame *out = av_frame_alloc();
    if (reference && in && out) {
        in->format = AV_PIX_FMT_YUV420P;
        out->format = AV_PIX_FMT_BGR24;
        in->width = out->width = side;
        in->height = out->height = side;
        if (av_frame_get_buffer(in, kAlign) == 0 && av_frame_get_buffer(out, kAlign) == 0) {
            YuvConverter::fillCheck(in->data[0], in->linesize[0], in->data[1], in->linesize[1],
                in->data[2], in->linesize[2]);
            if (sws_scale(reference, in->data, in->linesize, 0, side, out->data, out->linesize)
                    == side
                && yuvConverter.check(in->data[0], in->linesize[0], in->data[1], in->linesize[1],
                    in->data[2], in->linesize[2], out->data[0], out->linesize[0]))
                yuvChecked = 1;
        }
    }
    av_frame_free(&out);
    av_frame_free(&in);
    sws_freeContext(reference);
    if (yuvChecked == 0)
        qCDebug(lcImgproc) << "yuv420p frames through libswscale: it converts differently here";
    return yuvChecked == 1;
}

bool VideoDecoder::keep(int buffer)
{
    if (!pictureValid || buffer < 0 || buffer >= static_cast<int>(kept.size()))
        return false;
    AVFrame *frame = kept[static_cast<size_t>(buffer)];
    av_frame_unref(frame);
    return av_frame_ref(frame, picture) == 0;
}

bool VideoDecoder::convert(int buffer, cv::Mat &bgr, cv::Mat *grey, bool colour)
{
    if (buffer < 0 || buffer >= static_cast<int>(kept.size()))
        return false;
    const AVFrame *source = kept[static_cast<size_t>(buffer)];
    // A frame of another size would be read over the first one's coded size.
    if (!source->data[0] || cv::Size(source->width, source->height) != first
        || coded.width < first.width || coded.height < first.height)
        return false;
    converter = sws_getCachedContext(converter, coded.width, coded.height,
        static_cast<AVPixelFormat>(source->format), coded.width, coded.height, AV_PIX_FMT_BGR24,
        SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!converter)
        return false;
    AVFrame *output = outputs[static_cast<size_t>(buffer)];
    if (!output->data[0] || output->width != coded.width || output->height != coded.height) {
        av_frame_unref(output);
        output->format = AV_PIX_FMT_BGR24;
        output->width = coded.width;
        output->height = coded.height;
        if (av_frame_get_buffer(output, kAlign) != 0)
            return false;
    }
    bgr = cv::Mat(first.height, first.width, CV_8UC3, output->data[0],
        static_cast<size_t>(output->linesize[0]));
    // libswscale converts yuv420p of an even height row by row with its x86
    // converter, up to the coded width rounded up to 8 where the buffer
    // holds that: there the YUV converter gives the same bytes, and the grey
    // ones on the way.
    if (grey && source->format == AV_PIX_FMT_YUV420P && coded.height % 2 == 0
        && ((coded.width + 7) & ~7) * 3 <= output->linesize[0] && yuvConverterMatches()) {
        grey->create(first, CV_8UC1);
        for (int row = 0; row < first.height; ++row) {
            const ptrdiff_t chroma = row / 2;
            yuvConverter.convertRow(source->data[0] + row * ptrdiff_t(source->linesize[0]),
                source->data[1] + chroma * source->linesize[1],
                source->data[2] + chroma * source->linesize[2], first.width,
                colour ? bgr.ptr<uint8_t>(row) : nullptr, grey->ptr<uint8_t>(row));
        }
        if (!colour)
            bgr.release();
        return true;
    }
    if (!grey) {
        sws_scale(converter, source->data, source->linesize, 0, coded.height, output->data,
            output->linesize);
        return true;
    }
    grey->create(first, CV_8UC1);
    // In bands of rows, each made grey while it is still in the cache. The
    // converter takes the rows of a frame in order, in slices, as it would
    // take them in one; a format whose planes cannot be cut so goes whole.
    const AVPixFmtDescriptor *layout
        = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(source->format));
    const bool cut = layout && !(layout->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM))
        && (layout->flags & AV_PIX_FMT_FLAG_PLANAR);
    const int band = cut ? kBandRows : coded.height;
    int made = 0; // output rows made grey
    int converted = 0;
    for (int top = 0; top < coded.height; top += band) {
        const int rows = std::min(band, coded.height - top);
        const uint8_t *planes[4] = {};
        for (int p = 0; p < 4 && source->data[p]; ++p) {
            const int shift = (p == 1 || p == 2) ? layout->log2_chroma_h : 0;
            planes[p]
                = source->data[p] + static_cast<ptrdiff_t>(top >> shift) * source->linesize[p];
        }
        converted += sws_scale(converter, cut ? planes : source->data, source->linesize, top, rows,
            output->data, output->linesize);
        const int ready = std::min(converted, first.height);
        if (ready > made) {
            cv::Mat band = grey->rowRange(made, ready);
            greyConverter.convert(bgr.rowRange(made, ready), band);
            made = ready;
        }
    }
    if (made < first.height) {
        cv::Mat band = grey->rowRange(made, first.height);
        greyConverter.convert(bgr.rowRange(made, first.height), band);
    }
    return true;
}
