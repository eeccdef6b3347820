#include "imgproc/targetpool.h"

#include <algorithm>

std::unique_ptr<TargetPool> TargetPool::pool;

TargetPool::TargetPool()
{
    resize(10);
}

TargetPool &TargetPool::instance()
{
    if (!pool)
        pool.reset(new TargetPool);
    return *pool;
}

void TargetPool::destroy()
{
    pool.reset();
}

Target *TargetPool::take()
{
    if (freeList.empty())
        return nullptr;
    Target *target = freeList.front();
    freeList.pop_front();
    inUse.push_back(target);
    return target;
}

void TargetPool::release(Target *target)
{
    const auto it = std::find(inUse.begin(), inUse.end(), target);
    if (it != inUse.end())
        inUse.erase(it);
    freeList.push_back(target);
}

void TargetPool::resize(int n)
{
    storage.assign(static_cast<size_t>(std::max(n, 0)), Target());
    inUse.clear();
    inUse.reserve(storage.size());
    freeList.clear();
    for (Target &t : storage)
        freeList.push_back(&t);
}
