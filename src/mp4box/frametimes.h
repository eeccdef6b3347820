#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Presentation and decoding times, in frames, for the pictures of a raw H.264
// stream, which carries no timestamps of its own.
class FrameTimes
{
public:
    // One coded picture in decoding order: its picture order count as the
    // parser computed it, and whether it is an IDR picture (order counts
    // start again there).
    struct Picture
    {
        int orderCount = 0;
        bool idr = false;
    };

    // A picture is presented at its rank by order count within its run from
    // an IDR picture (equal counts keep decoding order), counted from the
    // run's first decoding index. Decoding times are the decoding indices
    // less the reorder delay: what the stream needs, or `declaredDelay` when
    // that is larger, since decoders hold back as many frames as the stream
    // declares whether or not it uses them.
    FrameTimes(const std::vector<Picture> &pictures, int declaredDelay);

    std::size_t size() const { return presentation.size(); }
    std::int64_t pts(std::size_t index) const { return presentation[index]; }
    std::int64_t dts(std::size_t index) const
    {
        return static_cast<std::int64_t>(index) - reorderDelay;
    }
    int delay() const { return reorderDelay; }

private:
    std::vector<std::int64_t> presentation;
    int reorderDelay = 0;
};
