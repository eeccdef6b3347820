// mp4box: wraps a raw H.264 Annex B stream into an MP4 file at a given frame
// rate, without re-encoding. Called by the import worker as
//   mp4box -fps 90 -add STREAM.h264 OUTPUT.mp4
// Prints "Importing AVC-H264: |...| (n/100)" while it indexes the stream and
// "ISO File Writing: |...| (n/100)" while it writes the file. Exits 0 on
// success; on failure (standard output that cannot take the progress lines
// included) prints a message, exits non-zero and leaves any earlier
// OUTPUT.mp4 as it was. A symbolic link at OUTPUT.mp4 is replaced, never
// written through.

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "annexbreader.h"
#include "frametimes.h"
#include "mp4writer.h"
#include "progressline.h"
#include "streamprobe.h"
#include <sys/stat.h>
#include <unistd.h>

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

// One frame per 1000 seconds to 1000 per second: rates outside make no
// sense for a camera, and tiny ones overflow the time base.
constexpr double kMinRate = 0.001;
constexpr double kMaxRate = 1000.0;

bool parseRate(const char *text, double &rate)
{
    char *end = nullptr;
    rate = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(rate) && rate >= kMinRate
        && rate <= kMaxRate;
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
                std::fprintf(stderr,
                    "mp4box: invalid frame rate \"%s\" (from 0.001 to 1000 frames per second)\n",
                    value);
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

std::string fileKind(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISFIFO(mode))
        return "a pipe";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    return "not a regular file";
}

// The stream is read twice: a pipe or a device would hand the second pass
// nothing, or something else.
bool checkStream(const std::string &stream, std::string &error)
{
    struct stat status;
    if (::stat(stream.c_str(), &status) != 0) {
        error = "cannot open " + stream + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        error = "cannot read " + stream + " twice: it is " + fileKind(status.st_mode)
            + "; copy it to a regular file first";
        return false;
    }
    return true;
}

// An output that exists must be a regular file that may be written, or a
// symbolic link: the new file replaces the link itself and never writes
// through it, as every file Kestrin writes.
bool checkOutput(const std::string &output, std::string &error)
{
    struct stat status;
    if (::lstat(output.c_str(), &status) != 0) {
        if (errno == ENOENT)
            return true;
        error = "cannot write " + output + ": " + std::strerror(errno);
        return false;
    }
    if (S_ISLNK(status.st_mode))
        return true;
    if (!S_ISREG(status.st_mode)) {
        error = "cannot write " + output + ": it is " + fileKind(status.st_mode);
        return false;
    }
    if ((status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0
        || ::access(output.c_str(), W_OK) != 0) {
        error = "cannot write " + output + ": it is read-only";
        return false;
    }
    return true;
}

// The progress lines are what the caller reads: lost ones are a failure.
bool outputWritten(std::string &error)
{
    if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0)
        return true;
    error = std::string("cannot write to standard output: ") + std::strerror(errno);
    return false;
}

int wrap(const Options &options)
{
    std::error_code ignored;
    if (std::filesystem::equivalent(options.stream, options.output, ignored))
        return fail("the output file is the stream itself");

    std::string error;
    const std::string &target = options.output;
    if (!checkStream(options.stream, error) || !checkOutput(target, error))
        return fail(error);
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
    if (!writer.open(target, *probe.parameters(), av_d2q(options.fps, 1000000), error))
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
    // Before the rename: a failure leaves the earlier output as it was.
    writing.finish();
    if (!outputWritten(error) || !writer.finish(error))
        return fail(error);
    return EXIT_SUCCESS;
}

} // namespace

int main(int argc, char **argv)
{
    // FFmpeg's notes on the stream would mix with the progress lines.
    av_log_set_level(AV_LOG_ERROR);
    Mp4Writer::removeTemporaryOnSignals();

    Options options;
    const int parsed = parseOptions(argc, argv, options);
    if (parsed < 0) {
        printUsage(stdout);
        std::string error;
        return outputWritten(error) ? EXIT_SUCCESS : fail(error);
    }
    if (parsed != 0) {
        printUsage(stderr);
        return parsed;
    }
    return wrap(options);
}
