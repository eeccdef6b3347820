#pragma once

#include <memory>
#include <string>

struct AVCodecParameters;

// What the MP4 file needs to know about a raw H.264 stream before its first
// packet: picture size, parameter sets and the reorder delay its decoder will
// use, found by FFmpeg decoding the first pictures.
class StreamProbe
{
public:
    bool run(const std::string &path, std::string &error);

    const AVCodecParameters *parameters() const { return codecParameters.get(); }
    // Frames a decoder holds back before output, as the stream declares it.
    int declaredDelay() const;

private:
    struct ParametersFreer
    {
        void operator()(AVCodecParameters *parameters) const;
    };

    std::unique_ptr<AVCodecParameters, ParametersFreer> codecParameters;
};
