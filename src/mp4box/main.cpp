// mp4box: wraps a raw H.264 Annex B stream into an MP4 file at a given frame
// rate, without re-encoding. Called by the import worker as
//   mp4box -fps 90 -add STREAM.h264 OUTPUT.mp4
// Prints "Importing AVC-H264: |...| (n/100)" while it indexes the stream and
// "ISO File Writing: |...| (n/100)" while it writes the file. Exits 0 on
// success; on failure prints a message, exits non-zero and leaves any earlier
// OUTPUT.mp4 as it was.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "annexbreader.h"
#include "frametimes.h"
#include "mp4writer.h"
#include "progressline.h"
#include "streamprobe.h"

extern "C" {
#include <libavutil/log.h>
#include <libavutil/rational.h>
}

namespace {

constexpr int kUsageError = 2;

struct Options
{
    double fps = 25.0;
    std::string stream;
    std::string output;
};

void printUsage(std::FILE *out)
{
    std::fputs("usage: mp4box [-fps RATE] -add STREAM.h264 OUTPUT.mp4\n"
               "Wraps a raw H.264 stream into an MP4 file without re-encoding.\n"
               "  -fps RATE   frames per second of the stream (default 25)\n"
               "  -add FILE   the raw H.264 (Annex B) stream to wrap\n",
        out);
}

bool parseRate(const char *text, double &rate)
{
    char *end = nullptr;
    rate = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(rate) && rate > 0.0 && rate <= 1000.0;
}

// Returns 0 when the options are complete, -1 for a help request, or the exit
// code of a usage error.
int parseOptions(int argc, char **argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "-help" || arg == "--help")
            return -1;
        if (arg == "-fps" || arg == "-add") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "mp4box: %s needs a value\n", arg.c_str());
                return kUsageError;
            }
            const char *value = argv[++i];
            if (arg == "-add") {
                options.stream = value;
            } else if (!parseRate(value, options.fps)) {
                std::fprintf(stderr, "mp4box: invalid frame rate \"%s\"\n", value);
                return kUsageError;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "mp4box: unknown option %s\n", arg.c_str());
            return kUsageError;
        } else if (options.output.empty()) {
            options.output = arg;
        } else {
            std::fprintf(stderr, "mp4box: more than one output file given\n");
            return kUsageError;
        }
    }
    if (options.stream.empty() || options.output.empty()) {
        std::fprintf(stderr, "mp4box: %s\n",
            options.stream.empty() ? "no stream given (-add)" : "no output file given");
        return kUsageError;
    }
    return 0;
}

int fail(const std::string &message)
{
    std::fprintf(stderr, "mp4box: %s\n", message.c_str());
    return EXIT_FAILURE;
}

int wrap(const Options &options)
{
    std::error_code ignored;
    if (std::filesystem::equivalent(options.stream, options.output, ignored))
        return fail("the output file is the stream itself");

    std::string error;
    StreamProbe probe;
    if (!probe.run(options.stream, error))
        return fail(error);

    // First pass: the order of every picture, to give each its timestamps.
    AnnexBReader reader;
    if (!reader.open(options.stream, error))
        return fail(error);
    std::vector<FrameTimes::Picture> pictures;
    std::vector<int> sizes;
    ProgressLine importing(stdout, "Importing AVC-H264");
    AnnexBReader::AccessUnit unit;
    while (reader.next(unit)) {
        pictures.push_back({ unit.orderCount, unit.idr });
        sizes.push_back(unit.size);
        importing.update(reader.position(), reader.fileSize());
    }
    if (reader.failed())
        return fail(reader.error());
    if (pictures.empty())
        return fail("no pictures in " + options.stream);
    importing.finish();
    const FrameTimes times(pictures, probe.declaredDelay());

    // Second pass: the same access units, into the file.
    Mp4Writer writer;
    if (!writer.open(options.output, *probe.parameters(), av_d2q(options.fps, 1000000), error))
        return fail(error);
    if (!reader.open(options.stream, error))
        return fail(error);
    ProgressLine writing(stdout, "ISO File Writing");
    std::size_t index = 0;
    while (reader.next(unit)) {
        if (index >= sizes.size() || unit.size != sizes[index])
            return fail(options.stream + " changed while it was read");
        if (!writer.write(unit.data, unit.size, times.pts(index), times.dts(index),
                pictures[index].idr, error))
            return fail(error);
        ++index;
        writing.update(static_cast<std::int64_t>(index), static_cast<std::int64_t>(sizes.size()));
    }
    if (reader.failed())
        return fail(reader.error());
    if (index != sizes.size())
        return fail(options.stream + " changed while it was read");
    if (!writer.finish(error))
        return fail(error);
    writing.finish();
    return EXIT_SUCCESS;
}

} // namespace

int main(int argc, char **argv)
{
    // FFmpeg's notes on the stream would mix with the progress lines.
    av_log_set_level(AV_LOG_ERROR);

    Options options;
    const int parsed = parseOptions(argc, argv, options);
    if (parsed < 0) {
        printUsage(stdout);
        return EXIT_SUCCESS;
    }
    if (parsed != 0) {
        printUsage(stderr);
        return parsed;
    }
    return wrap(options);
}
