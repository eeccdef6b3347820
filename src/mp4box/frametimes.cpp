#include "frametimes.h"

#include <algorithm>
#include <numeric>

FrameTimes::FrameTimes(const std::vector<Picture> &pictures, int declaredDelay)
    : presentation(pictures.size())
{
    std::vector<std::size_t> order;
    std::size_t runStart = 0;
    while (runStart < pictures.size()) {
        // Pictures before the first IDR picture form a run of their own.
        std::size_t runEnd = runStart + 1;
        while (runEnd < pictures.size() && !pictures[runEnd].idr)
            ++runEnd;
        order.resize(runEnd - runStart);
        std::iota(order.begin(), order.end(), runStart);
        std::stable_sort(order.begin(), order.end(), [&pictures](std::size_t a, std::size_t b) {
            return pictures[a].orderCount < pictures[b].orderCount;
        });
        for (std::size_t rank = 0; rank < order.size(); ++rank)
            presentation[order[rank]] = static_cast<std::int64_t>(runStart + rank);
        runStart = runEnd;
    }

    std::int64_t needed = 0;
    for (std::size_t i = 0; i < presentation.size(); ++i)
        needed = std::max(needed, static_cast<std::int64_t>(i) - presentation[i]);
    reorderDelay = static_cast<int>(std::max<std::int64_t>(needed, std::max(declaredDelay, 0)));
}
