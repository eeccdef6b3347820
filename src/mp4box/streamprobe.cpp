#include "streamprobe.h"

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "averror.h"

namespace {

struct InputCloser
{
    void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
};

} // namespace

void StreamProbe::ParametersFreer::operator()(AVCodecParameters *parameters) const
{
    avcodec_parameters_free(&parameters);
}

bool StreamProbe::run(const std::string &path, std::string &error)
{
    codecParameters.reset();
    AVFormatContext *raw = nullptr;
    int code = avformat_open_input(&raw, path.c_str(), av_find_input_format("h264"), nullptr);
    if (code < 0) {
        error = "cannot open " + path + ": " + avErrorText(code);
        return false;
    }
    const std::unique_ptr<AVFormatContext, InputCloser> input(raw);
    code = avformat_find_stream_info(input.get(), nullptr);
    if (code < 0) {
        error = "cannot read " + path + ": " + avErrorText(code);
        return false;
    }
    const AVCodecParameters *found = input->nb_streams > 0 ? input->streams[0]->codecpar : nullptr;
    if (!found || found->codec_id != AV_CODEC_ID_H264 || found->width <= 0 || found->height <= 0) {
        error = path + " is not a raw H.264 stream";
        return false;
    }
    codecParameters.reset(avcodec_parameters_alloc());
    if (!codecParameters || avcodec_parameters_copy(codecParameters.get(), found) < 0) {
        codecParameters.reset();
        error = "out of memory";
        return false;
    }
    return true;
}

int StreamProbe::declaredDelay() const
{
    return codecParameters ? codecParameters->video_delay : 0;
}
