#include "annexbreader.h"

#include <cerrno>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/avutil.h>
}

namespace {

constexpr std::size_t kChunk = 1 << 20;

bool containsIdrSlice(const std::uint8_t *data, int size)
{
    for (int i = 0; i + 3 < size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            if ((data[i + 3] & 0x1f) == 5)
                return true;
            i += 2;
        }
    }
    return false;
}

} // namespace

void AnnexBReader::FileCloser::operator()(std::FILE *f) const
{
    std::fclose(f);
}

void AnnexBReader::ParserCloser::operator()(AVCodecParserContext *p) const
{
    av_parser_close(p);
}

void AnnexBReader::ContextFreer::operator()(AVCodecContext *c) const
{
    avcodec_free_context(&c);
}

AnnexBReader::AnnexBReader() = default;

AnnexBReader::~AnnexBReader() = default;

bool AnnexBReader::open(const std::string &path, std::string &error)
{
    file.reset(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    if (std::fseek(file.get(), 0, SEEK_END) != 0 || (totalBytes = std::ftell(file.get())) < 0
        || std::fseek(file.get(), 0, SEEK_SET) != 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    parser.reset(av_parser_init(AV_CODEC_ID_H264));
    context.reset(avcodec_alloc_context3(nullptr));
    if (!parser || !context) {
        error = "cannot set up the H.264 parser";
        return false;
    }
    // The parser may read a little past the data it is given.
    buffer.assign(kChunk + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    bufferPos = bufferEnd = 0;
    endOfFile = drained = false;
    bytesRead = 0;
    readError.clear();
    return true;
}

bool AnnexBReader::refill()
{
    bufferPos = 0;
    bufferEnd = std::fread(buffer.data(), 1, kChunk, file.get());
    bytesRead += static_cast<std::int64_t>(bufferEnd);
    if (bufferEnd < kChunk) {
        if (std::ferror(file.get())) {
            readError = std::string("read error: ") + std::strerror(errno);
            return false;
        }
        if (bufferEnd == 0)
            endOfFile = true;
    }
    return true;
}

bool AnnexBReader::next(AccessUnit &unit)
{
    if (!parser || failed())
        return false;
    for (;;) {
        if (bufferPos == bufferEnd && !endOfFile && !refill())
            return false;

        std::uint8_t *out = nullptr;
        int outSize = 0;
        if (bufferPos < bufferEnd) {
            const int used = av_parser_parse2(parser.get(), context.get(), &out, &outSize,
                buffer.data() + bufferPos, static_cast<int>(bufferEnd - bufferPos), AV_NOPTS_VALUE,
                AV_NOPTS_VALUE, 0);
            if (used < 0) {
                readError = "the H.264 parser failed";
                return false;
            }
            bufferPos += static_cast<std::size_t>(used);
        } else {
            // End of file: the parser still holds the last access unit.
            if (drained)
                return false;
            av_parser_parse2(parser.get(), context.get(), &out, &outSize, nullptr, 0,
                AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
            if (outSize <= 0) {
                drained = true;
                return false;
            }
        }
        if (outSize > 0) {
            unit.data = out;
            unit.size = outSize;
            unit.orderCount = parser->output_picture_number;
            unit.idr = containsIdrSlice(out, outSize);
            return true;
        }
    }
}
