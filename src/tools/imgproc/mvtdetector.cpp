#include "imgproc/mvtdetector.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include "imgproc/targetpool.h"
#include "logging.h"

namespace {

constexpr int kThreshold = MvtDetector::kThreshold;
// 20 dilations and then 5 erosions with a 3 x 3 rectangle: each output pixel
// is the maximum (minimum) over the square of that reach around it, clipped
// to the frame, which is what replicating the border amounts to.
constexpr int kDilateReach = MvtDetector::kDilations;
constexpr int kErodeReach = MvtDetector::kErosions;
constexpr size_t kMinContourPoints = MvtDetector::kMinContourPoints;
constexpr double kApproxEpsilon = MvtDetector::kApproxEpsilon;

constexpr int kTileShift = 4;
constexpr int kTile = 1 << kTileShift;
// Two eroded pixels whose dilations touch lie at most 2 * 20 + 1 pixels, so
// at most 3 tiles, apart; squares of 1 tile around their tiles then touch.
constexpr int kTileGap = (kTile + 2 * kDilateReach) / kTile;
constexpr int kTileReach = kTileGap / 2;

} // namespace

void MvtDetector::set_mask(const cv::Mat &newMask)
{
    previous.release();
    if (newMask.empty()) {
        mask.release();
        return;
    }
    // Non-zero in any channel opens the pixel.
    std::vector<cv::Mat> channels;
    cv::split(newMask, channels);
    cv::compare(channels[0], 0, mask, cv::CMP_NE);
    cv::Mat open;
    for (size_t i = 1; i < channels.size(); ++i) {
        cv::compare(channels[i], 0, open, cv::CMP_NE);
        cv::bitwise_or(mask, open, mask);
    }
}

bool MvtDetector::accepts(const cv::Mat &grey) const
{
    if (grey.empty() || grey.type() != CV_8UC1 || grey.dims != 2)
        return false;
    if (!mask.empty())
        return grey.size() == mask.size();
    return previous.empty() || grey.size() == previous.size();
}

void MvtDetector::detectabsdiff(const cv::Mat &grey, TargetList &out)
{
    blobs.clear();
    if (!accepts(grey)) {
        qCWarning(lcImgproc, "Frame %dx%d of type %d does not fit the mask %dx%d: ignored",
            grey.cols, grey.rows, grey.type(), mask.cols, mask.rows);
        return;
    }

    if (previous.empty()) {
        prepare(grey.size());
        for (int y = 0; y < grey.rows; ++y) {
            const uchar *src = grey.ptr<uchar>(y);
            uchar *dst = previous.ptr<uchar>(y);
            for (int s = rowSpans[static_cast<size_t>(y)]; s < rowSpans[static_cast<size_t>(y) + 1];
                 ++s) {
                const Span &span = spans[static_cast<size_t>(s)];
                std::memcpy(dst + span.x0, src + span.x0, static_cast<size_t>(span.x1 - span.x0));
            }
        }
        return;
    }

    difference(grey, out.empty());
    erodeFlaggedTiles();
    findRegions();
    traceRegions();

    for (const std::vector<cv::Point> &contour : blobs) {
        if (contour.size() < kMinContourPoints)
            continue;
        Target *t = TargetPool::instance().take();
        if (!t) {
            qCWarning(lcImgproc, "No more target in the pool");
            break;
        }
        cv::approxPolyDP(contour, polygon, kApproxEpsilon, true);
        const cv::Rect box = cv::boundingRect(polygon);
        t->init();
        t->width = box.width;
        t->height = box.height;
        t->origine = box.tl();
        t->centroid = cv::Point(box.x + box.width / 2, box.y + box.height / 2);
        out.push_back(t);
    }
}

// Buffers for frames of `size`, and the mask as runs of open pixels. Called
// on the first frame after set_mask, when the reference is still empty.
void MvtDetector::prepare(cv::Size size)
{
    previous.create(size, CV_8UC1);
    previous.setTo(0);
    binary.create(size, CV_8UC1);
    binary.setTo(0);
    eroded.create(size, CV_8UC1);
    eroded.setTo(0);
    rowPass.create(size, CV_8UC1);
    grown.create(size, CV_8UC1);
    closed.create(size, CV_8UC1);
    counts.assign(static_cast<size_t>(size.width), 0);

    spans.clear();
    rowSpans.assign(static_cast<size_t>(size.height) + 1, 0);
    for (int y = 0; y < size.height; ++y) {
        rowSpans[static_cast<size_t>(y)] = static_cast<int>(spans.size());
        if (mask.empty()) {
            spans.push_back({ 0, size.width });
            continue;
        }
        const uchar *m = mask.ptr<uchar>(y);
        int x = 0;
        while (x < size.width) {
            while (x < size.width && m[x] == 0)
                ++x;
            const int x0 = x;
            while (x < size.width && m[x] != 0)
                ++x;
            if (x > x0)
                spans.push_back({ x0, x });
        }
    }
    rowSpans[static_cast<size_t>(size.height)] = static_cast<int>(spans.size());

    gridWidth = (size.width + kTile - 1) / kTile;
    gridHeight = (size.height + kTile - 1) / kTile;
    const size_t tiles = static_cast<size_t>(gridWidth) * static_cast<size_t>(gridHeight);
    flaggedTiles.assign(tiles, 0);
    erodedTiles.clear();
    erodedBoxes.assign(tiles, cv::Rect());
    erodedStamp.assign(tiles, 0);
    reachStamp.assign(tiles, 0);
    visitedStamp.assign(tiles, 0);
    stamp = 0;
}

// Masked absolute difference with the reference, thresholded into `binary`,
// and the reference moved on when asked. Pixels outside the mask are 0 in
// the masked frame and in the reference, so only the open runs are read.
// On the way, flags the tiles where the first erosion may leave a pixel: one
// set in its row and in the rows above and below (within the frame). Row y
// completes those column neighbourhoods for row y - 1; such a pixel is set
// in row y, so the open runs of row y cover it.
void MvtDetector::difference(const cv::Mat &grey, bool moveReference)
{
    std::fill(flaggedTiles.begin(), flaggedTiles.end(), 0);
    for (int y = 0; y < grey.rows; ++y) {
        const uchar *src = grey.ptr<uchar>(y);
        uchar *ref = previous.ptr<uchar>(y);
        uchar *bin = binary.ptr<uchar>(y);
        // For row 0 nothing is flagged yet: its neighbourhood needs row 1.
        const bool flag = y >= 1;
        const uchar *up = binary.ptr<uchar>(std::max(y - 1, 0));
        const uchar *upper = binary.ptr<uchar>(std::max(y - 2, 0));
        uint8_t *tiles = flaggedTiles.data()
            + static_cast<size_t>(std::max(y - 1, 0) >> kTileShift) * gridWidth;
        for (int s = rowSpans[static_cast<size_t>(y)]; s < rowSpans[static_cast<size_t>(y) + 1];
             ++s) {
            const Span &span = spans[static_cast<size_t>(s)];
            int x = span.x0;
            // OpenCV's 16-byte lanes: a hand-written 32-byte loop was no faster
            // (0.64 against 0.61 ms a 1920x1080 frame), the loop being bound by memory.
#if CV_SIMD128
            const cv::v_uint8x16 limit = cv::v_setall_u8(static_cast<uchar>(kThreshold));
            for (; x + 16 <= span.x1; x += 16) {
                const cv::v_uint8x16 now = cv::v_load(src + x);
                const cv::v_uint8x16 moved = cv::v_absdiff(now, cv::v_load(ref + x)) > limit;
                cv::v_store(bin + x, moved);
                if (moveReference)
                    cv::v_store(ref + x, now);
                if (flag
                    && cv::v_check_any(
                        cv::v_min(moved, cv::v_min(cv::v_load(up + x), cv::v_load(upper + x))))) {
                    tiles[x >> kTileShift] = 1;
                    tiles[(x + 15) >> kTileShift] = 1;
                }
            }
#endif
            for (; x < span.x1; ++x) {
                const int d = src[x] > ref[x] ? src[x] - ref[x] : ref[x] - src[x];
                bin[x] = d > kThreshold ? 255 : 0;
                if (moveReference)
                    ref[x] = src[x];
                if (flag && bin[x] && up[x] && upper[x])
                    tiles[x >> kTileShift] = 1;
            }
        }
    }

    // The last row's neighbourhood ends with the row itself.
    const int last = grey.rows - 1;
    const uchar *up = binary.ptr<uchar>(std::max(last - 1, 0));
    const uchar *row = binary.ptr<uchar>(last);
    uint8_t *tiles = flaggedTiles.data() + static_cast<size_t>(last >> kTileShift) * gridWidth;
    for (int s = rowSpans[static_cast<size_t>(last)]; s < rowSpans[static_cast<size_t>(last) + 1];
         ++s) {
        const Span &span = spans[static_cast<size_t>(s)];
        for (int x = span.x0; x < span.x1; ++x) {
            if (up[x] && row[x])
                tiles[x >> kTileShift] = 1;
        }
    }
}

cv::Rect MvtDetector::tileRect(int tx, int ty) const
{
    const int x0 = tx * kTile;
    const int y0 = ty * kTile;
    return cv::Rect(x0, y0, std::min(kTile, binary.cols - x0), std::min(kTile, binary.rows - y0));
}

// One erosion with the 3 x 3 rectangle: each pixel becomes the minimum of its
// 3 x 3 neighbourhood clipped to the frame. Done on the flagged tiles only;
// everywhere else the result is 0.
void MvtDetector::erodeFlaggedTiles()
{
    for (const int index : erodedTiles) {
        const cv::Rect r = tileRect(index % gridWidth, index / gridWidth);
        for (int y = r.y; y < r.y + r.height; ++y)
            std::memset(eroded.ptr<uchar>(y) + r.x, 0, static_cast<size_t>(r.width));
    }
    erodedTiles.clear();

    const int width = binary.cols;
    const int height = binary.rows;
    for (int ty = 0; ty < gridHeight; ++ty) {
        const uint8_t *tiles = flaggedTiles.data() + static_cast<size_t>(ty) * gridWidth;
        for (int tx = 0; tx < gridWidth; ++tx) {
            if (!tiles[tx])
                continue;
            const cv::Rect r = tileRect(tx, ty);
            const int x0 = r.x;
            const int x1 = r.x + r.width;
            int top = -1;
            int bottom = -1;
            uchar columns[kTile] = {};
            for (int y = r.y; y < r.y + r.height; ++y) {
                const uchar *above = binary.ptr<uchar>(std::max(y - 1, 0));
                const uchar *row = binary.ptr<uchar>(y);
                const uchar *below = binary.ptr<uchar>(std::min(y + 1, height - 1));
                uchar *dst = eroded.ptr<uchar>(y);
                uchar any = 0;
                int x = x0;
#if CV_SIMD128
                if (x0 > 0 && x1 < width && r.width == kTile) {
                    const auto column = [&](int at) {
                        return cv::v_min(cv::v_min(cv::v_load(above + at), cv::v_load(row + at)),
                            cv::v_load(below + at));
                    };
                    const cv::v_uint8x16 e
                        = cv::v_min(cv::v_min(column(x0 - 1), column(x0)), column(x0 + 1));
                    cv::v_store(dst + x0, e);
                    if (cv::v_check_any(e)) {
                        any = 1;
                        cv::v_store(columns, cv::v_load(columns) | e);
                    }
                    x = x1;
                }
#endif
                for (; x < x1; ++x) {
                    const int left = std::max(x - 1, 0);
                    const int right = std::min(x + 1, width - 1);
                    uchar v = 255;
                    for (const uchar *p : { above, row, below })
                        v = std::min({ v, p[left], p[x], p[right] });
                    dst[x] = v;
                    any |= v;
                    columns[x - x0] |= v;
                }
                if (any) {
                    if (top < 0)
                        top = y;
                    bottom = y;
                }
            }
            if (top < 0)
                continue;
            int left = 0;
            while (!columns[left])
                ++left;
            int right = r.width - 1;
            while (!columns[right])
                --right;
            const int index = ty * gridWidth + tx;
            erodedTiles.push_back(index);
            erodedBoxes[static_cast<size_t>(index)]
                = cv::Rect(x0 + left, top, right - left + 1, bottom - top + 1);
        }
    }
}

// Groups the eroded pixels into disjoint rectangles such that every blob of
// the final image lies wholly inside one of them, with no piece of another
// blob in it. Eroded tiles whose squares of kTileReach tiles touch
// (8-connected) form one group; pixels of two groups are more than 41 pixels
// apart, so their dilations neither overlap nor touch. A group's rectangle is
// the box of its eroded pixels grown by 20, which holds all of its dilation.
// Where rectangles overlap they are merged, which also keeps a blob lying in
// a hole of another with the surrounding one.
void MvtDetector::findRegions()
{
    regions.clear();
    if (erodedTiles.empty())
        return;
    if (++stamp == 0) {
        std::fill(erodedStamp.begin(), erodedStamp.end(), 0);
        std::fill(reachStamp.begin(), reachStamp.end(), 0);
        std::fill(visitedStamp.begin(), visitedStamp.end(), 0);
        stamp = 1;
    }
    for (const int index : erodedTiles) {
        erodedStamp[static_cast<size_t>(index)] = stamp;
        const int tx = index % gridWidth;
        const int ty = index / gridWidth;
        for (int y = std::max(ty - kTileReach, 0); y <= std::min(ty + kTileReach, gridHeight - 1);
             ++y) {
            for (int x = std::max(tx - kTileReach, 0);
                 x <= std::min(tx + kTileReach, gridWidth - 1); ++x)
                reachStamp[static_cast<size_t>(y) * gridWidth + x] = stamp;
        }
    }

    const cv::Rect frame(0, 0, binary.cols, binary.rows);
    for (const int seed : erodedTiles) {
        if (visitedStamp[static_cast<size_t>(seed)] == stamp)
            continue;
        visitedStamp[static_cast<size_t>(seed)] = stamp;
        queue.clear();
        queue.push_back(seed);
        cv::Rect box;
        for (size_t head = 0; head < queue.size(); ++head) {
            const int index = queue[head];
            if (erodedStamp[static_cast<size_t>(index)] == stamp) {
                const cv::Rect &e = erodedBoxes[static_cast<size_t>(index)];
                const cv::Rect grownBox(e.x - kDilateReach, e.y - kDilateReach,
                    e.width + 2 * kDilateReach, e.height + 2 * kDilateReach);
                box = box.empty() ? grownBox : (box | grownBox);
            }
            const int tx = index % gridWidth;
            const int ty = index / gridWidth;
            for (int y = std::max(ty - 1, 0); y <= std::min(ty + 1, gridHeight - 1); ++y) {
                for (int x = std::max(tx - 1, 0); x <= std::min(tx + 1, gridWidth - 1); ++x) {
                    const size_t n = static_cast<size_t>(y) * gridWidth + x;
                    if (reachStamp[n] == stamp && visitedStamp[n] != stamp) {
                        visitedStamp[n] = stamp;
                        queue.push_back(static_cast<int>(n));
                    }
                }
            }
        }
        regions.push_back(box & frame);
    }

    for (bool merged = true; merged;) {
        merged = false;
        for (size_t i = 0; i < regions.size(); ++i) {
            for (size_t j = i + 1; j < regions.size();) {
                if ((regions[i] & regions[j]).empty()) {
                    ++j;
                    continue;
                }
                regions[i] |= regions[j];
                regions[j] = regions.back();
                regions.pop_back();
                merged = true;
            }
        }
    }
}

// dst(area) := 255 where the square of `reach` around the pixel, clipped to
// the frame, holds a non-zero pixel of `src` (or with `zeros`, := 0 where it
// holds a zero pixel, 255 elsewhere): a dilation, or an erosion, of a 0/255
// image. The square is done as a row pass into `rowPass` (0 or 1: a hit in
// reach along the row) and a column pass counting those along the column.
void MvtDetector::windowAny(
    const cv::Mat &src, cv::Mat &dst, const cv::Rect &area, int reach, bool zeros)
{
    const int width = src.cols;
    const int height = src.rows;
    const int x0 = area.x;
    const int x1 = area.x + area.width;
    const int rowFrom = std::max(area.y - reach, 0);
    const int rowTo = std::min(area.y + area.height + reach, height);
    const int hit = zeros ? 0 : 255;
    const int miss = 255 - hit;
    const int scanFrom = std::max(x0 - reach, 0);
    const int scanTo = std::min(x1 + reach, width);

    for (int y = rowFrom; y < rowTo; ++y) {
        const uchar *in = src.ptr<uchar>(y);
        uchar *out = rowPass.ptr<uchar>(y);
        std::memset(out + x0, 0, static_cast<size_t>(area.width));
        int x = scanFrom;
        while (x < scanTo) {
            const void *first = std::memchr(in + x, hit, static_cast<size_t>(scanTo - x));
            if (!first)
                break;
            const int runStart = static_cast<int>(static_cast<const uchar *>(first) - in);
            const void *after
                = std::memchr(in + runStart, miss, static_cast<size_t>(scanTo - runStart));
            const int runEnd
                = after ? static_cast<int>(static_cast<const uchar *>(after) - in) : scanTo;
            const int from = std::max(runStart - reach, x0);
            const int to = std::min(runEnd + reach, x1);
            if (from < to)
                std::memset(out + from, 1, static_cast<size_t>(to - from));
            x = runEnd;
        }
    }

    // counts[x - x0]: hits within reach above and below, rows clipped.
    uint8_t *count = counts.data();
    std::memset(count, 0, static_cast<size_t>(area.width));
    const auto addRow = [&](int y, bool add) {
        const uchar *r = rowPass.ptr<uchar>(y) + x0;
        int i = 0;
#if CV_SIMD128
        for (; i + 16 <= area.width; i += 16) {
            const cv::v_uint8x16 c = cv::v_load(count + i);
            cv::v_store(count + i, add ? c + cv::v_load(r + i) : c - cv::v_load(r + i));
        }
#endif
        for (; i < area.width; ++i)
            count[i] = static_cast<uint8_t>(add ? count[i] + r[i] : count[i] - r[i]);
    };
    for (int y = rowFrom; y < std::min(area.y + reach + 1, height); ++y)
        addRow(y, true);
    for (int y = area.y; y < area.y + area.height; ++y) {
        uchar *out = dst.ptr<uchar>(y) + x0;
        int i = 0;
#if CV_SIMD128
        const cv::v_uint8x16 none = cv::v_setzero_u8();
        for (; i + 16 <= area.width; i += 16) {
            const cv::v_uint8x16 seen = cv::v_load(count + i) > none;
            cv::v_store(out + i, zeros ? ~seen : seen);
        }
#endif
        for (; i < area.width; ++i)
            out[i] = (count[i] > 0) != zeros ? 255 : 0;
        if (y + 1 == area.y + area.height)
            break;
        if (y + reach + 1 < height)
            addRow(y + reach + 1, true);
        if (y - reach >= 0)
            addRow(y - reach, false);
    }
}

// Dilation and erosion on each region: the dilation is computed on the region
// and 5 pixels around it, all that the erosion reads, from the exact eroded
// image. Then the external contours. findContours on the whole image lists
// them in reverse order of their first pixel in raster order; the same order
// is restored across regions.
void MvtDetector::traceRegions()
{
    found.clear();
    const cv::Rect frame(0, 0, binary.cols, binary.rows);
    for (const cv::Rect &region : regions) {
        const cv::Rect around = cv::Rect(region.x - kErodeReach, region.y - kErodeReach,
                                    region.width + 2 * kErodeReach, region.height + 2 * kErodeReach)
            & frame;
        windowAny(eroded, grown, around, kDilateReach, false);
        windowAny(grown, closed, region, kErodeReach, true);
        cv::findContours(closed(region), regionContours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE,
            region.tl());
        for (std::vector<cv::Point> &contour : regionContours)
            found.push_back(std::move(contour));
    }

    order.resize(found.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [this](size_t a, size_t b) {
        const cv::Point &pa = found[a].front();
        const cv::Point &pb = found[b].front();
        return pa.y != pb.y ? pa.y > pb.y : pa.x > pb.x;
    });
    blobs.resize(order.size());
    for (size_t i = 0; i < order.size(); ++i)
        blobs[i] = std::move(found[order[i]]);
}
