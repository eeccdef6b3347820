#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

struct AVCodecContext;
struct AVCodecParserContext;

// Splits a raw H.264 Annex B stream file into access units (one coded picture
// each) with FFmpeg's H.264 parser. Reading the same file twice yields the
// same units in the same order.
class AnnexBReader
{
public:
    struct AccessUnit
    {
        // Valid until the next call of next().
        const std::uint8_t *data = nullptr;
        int size = 0;
        // Picture order count; starts again at each IDR picture.
        int orderCount = 0;
        bool idr = false;
    };

    AnnexBReader();
    ~AnnexBReader();
    AnnexBReader(const AnnexBReader &) = delete;
    AnnexBReader &operator=(const AnnexBReader &) = delete;

    bool open(const std::string &path, std::string &error);

    // The next access unit in decoding order. False at the end of the stream
    // or on a read error; failed() tells which.
    bool next(AccessUnit &unit);

    bool failed() const { return !readError.empty(); }
    const std::string &error() const { return readError; }

    // Bytes read from the file so far, and the file's size, for progress.
    std::int64_t position() const { return bytesRead; }
    std::int64_t fileSize() const { return totalBytes; }

private:
    struct FileCloser
    {
        void operator()(std::FILE *file) const;
    };
    struct ParserCloser
    {
        void operator()(AVCodecParserContext *parser) const;
    };
    struct ContextFreer
    {
        void operator()(AVCodecContext *context) const;
    };

    bool refill();

    std::unique_ptr<std::FILE, FileCloser> file;
    std::unique_ptr<AVCodecParserContext, ParserCloser> parser;
    std::unique_ptr<AVCodecContext, ContextFreer> context;
    std::vector<std::uint8_t> buffer;
    std::size_t bufferPos = 0;
    std::size_t bufferEnd = 0;
    bool endOfFile = false;
    bool drained = false;
    std::int64_t bytesRead = 0;
    std::int64_t totalBytes = 0;
    std::string readError;
};
