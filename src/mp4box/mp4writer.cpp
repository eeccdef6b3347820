#include "mp4writer.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <vector>

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "averror.h"

namespace {

// The temporary file being written, for the signal handler: a process has
// one writer at work at a time, and the handler may only read plain memory.
char pendingTemporary[PATH_MAX];
volatile std::sig_atomic_t temporaryPending = 0;

extern "C" void removeTemporaryAndEnd(int signal)
{
    if (temporaryPending)
        ::unlink(pendingTemporary);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

void setPending(const std::string &name)
{
    temporaryPending = 0;
    if (name.empty() || name.size() >= sizeof pendingTemporary)
        return;
    std::memcpy(pendingTemporary, name.c_str(), name.size() + 1);
    temporaryPending = 1;
}

// Creates an empty file beside `target` with a unique name and the
// permissions a plain new file would get.
std::string createTemporary(const std::string &target, std::string &error)
{
    std::vector<char> name(target.begin(), target.end());
    const std::string pattern = ".XXXXXX";
    name.insert(name.end(), pattern.begin(), pattern.end());
    name.push_back('\0');
    // Blocked until the name is known to the handler, so that a signal in
    // between cannot leave the file behind.
    sigset_t stops;
    sigset_t before;
    sigemptyset(&stops);
    for (const int signal : { SIGINT, SIGTERM, SIGHUP })
        sigaddset(&stops, signal);
    ::pthread_sigmask(SIG_BLOCK, &stops, &before);
    const int fd = ::mkstemp(name.data());
    if (fd >= 0)
        setPending(name.data());
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (fd < 0) {
        error = "cannot create a file beside " + target + ": " + std::strerror(errno);
        return {};
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    return name.data();
}

} // namespace

void Mp4Writer::FormatFreer::operator()(AVFormatContext *context) const
{
    if (context->pb)
        avio_closep(&context->pb);
    avformat_free_context(context);
}

void Mp4Writer::PacketFreer::operator()(AVPacket *p) const
{
    av_packet_free(&p);
}

Mp4Writer::Mp4Writer() = default;

Mp4Writer::~Mp4Writer()
{
    discard();
}

void Mp4Writer::removeTemporaryOnSignals()
{
    struct sigaction action = {};
    action.sa_handler = removeTemporaryAndEnd;
    sigemptyset(&action.sa_mask);
    for (const int signal : { SIGINT, SIGTERM, SIGHUP })
        ::sigaction(signal, &action, nullptr);
}

void Mp4Writer::discard()
{
    output.reset();
    stream = nullptr;
    if (!temporary.empty()) {
        setPending({});
        std::remove(temporary.c_str());
        temporary.clear();
    }
}

bool Mp4Writer::open(const std::string &path, const AVCodecParameters &parameters,
    AVRational frameRate, std::string &error)
{
    discard();
    target = path;
    temporary = createTemporary(target, error);
    if (temporary.empty())
        return false;

    AVFormatContext *raw = nullptr;
    int code = avformat_alloc_output_context2(&raw, nullptr, "mp4", temporary.c_str());
    if (code < 0) {
        error = "cannot set up the MP4 writer: " + avErrorText(code);
        discard();
        return false;
    }
    output.reset(raw);
    packet.reset(av_packet_alloc());
    stream = avformat_new_stream(output.get(), nullptr);
    if (!packet || !stream || avcodec_parameters_copy(stream->codecpar, &parameters) < 0) {
        error = "out of memory";
        discard();
        return false;
    }
    stream->codecpar->codec_tag = 0;
    frameBase = av_inv_q(frameRate);
    stream->time_base = frameBase;
    stream->avg_frame_rate = frameRate;
    stream->r_frame_rate = frameRate;

    code = avio_open(&output->pb, temporary.c_str(), AVIO_FLAG_WRITE);
    if (code < 0) {
        error = "cannot write " + temporary + ": " + avErrorText(code);
        discard();
        return false;
    }
    // The muxer picks its own time base for the stream here.
    code = avformat_write_header(output.get(), nullptr);
    if (code < 0) {
        error = "cannot write the MP4 header: " + avErrorText(code);
        discard();
        return false;
    }
    return true;
}

bool Mp4Writer::write(const std::uint8_t *data, int size, std::int64_t pts, std::int64_t dts,
    bool key, std::string &error)
{
    if (!stream) {
        error = "the MP4 file is not open";
        return false;
    }
    int code = av_new_packet(packet.get(), size);
    if (code < 0) {
        error = "out of memory";
        return false;
    }
    std::memcpy(packet->data, data, static_cast<std::size_t>(size));
    packet->pts = pts;
    packet->dts = dts;
    packet->duration = 1;
    packet->flags = key ? AV_PKT_FLAG_KEY : 0;
    packet->stream_index = stream->index;
    av_packet_rescale_ts(packet.get(), frameBase, stream->time_base);
    code = av_interleaved_write_frame(output.get(), packet.get());
    av_packet_unref(packet.get());
    if (code < 0) {
        error = "cannot write the MP4 file: " + avErrorText(code);
        return false;
    }
    return true;
}

bool Mp4Writer::finish(std::string &error)
{
    if (!stream) {
        error = "the MP4 file is not open";
        return false;
    }
    int code = av_write_trailer(output.get());
    if (code >= 0)
        code = avio_closep(&output->pb);
    if (code < 0) {
        error = "cannot complete the MP4 file: " + avErrorText(code);
        discard();
        return false;
    }
    output.reset();
    stream = nullptr;
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        error = "cannot write " + target + ": " + std::strerror(errno);
        discard();
        return false;
    }
    setPending({});
    temporary.clear();
    return true;
}
