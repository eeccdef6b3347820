#include "progressline.h"

#include <algorithm>

#include <unistd.h>

namespace {
constexpr int kWidth = 20;
}

ProgressLine::ProgressLine(std::FILE *out, std::string label)
    : out(out)
    , label(std::move(label))
    , terminal(::isatty(::fileno(out)) == 1)
{
}

void ProgressLine::update(std::int64_t done, std::int64_t total)
{
    const std::int64_t percent = total > 0 ? done * 100 / total : 0;
    print(static_cast<int>(std::clamp<std::int64_t>(percent, 0, 99)));
}

void ProgressLine::finish()
{
    print(100);
    if (terminal) {
        std::fputc('\n', out);
        std::fflush(out);
    }
}

void ProgressLine::print(int percent)
{
    if (percent == shown)
        return;
    shown = percent;
    const int filled = percent * kWidth / 100;
    std::fprintf(out, "%s: |%s%s| (%d/100)%c", label.c_str(), std::string(filled, '=').c_str(),
        std::string(kWidth - filled, ' ').c_str(), percent, terminal ? '\r' : '\n');
    // The worker shows the progress as it comes, not when the pipe fills.
    std::fflush(out);
}
