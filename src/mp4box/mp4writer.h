#pragma once

#include <cstdint>
#include <memory>
#include <string>

extern "C" {
#include <libavutil/rational.h>
}

struct AVCodecParameters;
struct AVFormatContext;
struct AVPacket;
struct AVStream;

// Writes H.264 access units into an MP4 file. The file is built under a
// temporary name beside the target and takes the target's name only when it
// is complete, so a failed run leaves neither a partial file nor a damaged
// earlier one.
class Mp4Writer
{
public:
    Mp4Writer();
    ~Mp4Writer();
    Mp4Writer(const Mp4Writer &) = delete;
    Mp4Writer &operator=(const Mp4Writer &) = delete;

    // `frameRate` in frames per second; timestamps handed to write() count frames.
    bool open(const std::string &path, const AVCodecParameters &parameters, AVRational frameRate,
        std::string &error);
    bool write(const std::uint8_t *data, int size, std::int64_t pts, std::int64_t dts, bool key,
        std::string &error);
    // Completes the file and gives it the target's name.
    bool finish(std::string &error);

    // From now on SIGINT, SIGTERM and SIGHUP remove the temporary file of a
    // writer at work before the program ends as the signal would end it.
    static void removeTemporaryOnSignals();

private:
    struct FormatFreer
    {
        void operator()(AVFormatContext *context) const;
    };
    struct PacketFreer
    {
        void operator()(AVPacket *packet) const;
    };

    void discard();

    std::unique_ptr<AVFormatContext, FormatFreer> output;
    std::unique_ptr<AVPacket, PacketFreer> packet;
    AVStream *stream = nullptr;
    AVRational frameBase { 1, 1 };
    std::string target;
    std::string temporary;
};
