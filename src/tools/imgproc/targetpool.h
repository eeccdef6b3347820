#pragma once

#include <deque>
#include <memory>
#include <vector>

#include "imgproc/target.h"

// The process-wide fixed pool of target records. Free records are handed out
// first-in first-out; the pool never grows on its own.
class TargetPool
{
public:
    // The pool, created with 10 free records on first use.
    static TargetPool &instance();
    // Destroys the pool; the next instance() creates a new one.
    static void destroy();

    // First free record, moved to the in-use list; null when none is free.
    // The taker calls init().
    Target *take();
    // Back to the end of the free list.
    void release(Target *target);
    // n records, all free, in storage order. Only valid while none is handed out.
    void resize(int n);

    int freeCount() const { return static_cast<int>(freeList.size()); }
    int inUseCount() const { return static_cast<int>(inUse.size()); }
    int capacity() const { return static_cast<int>(storage.size()); }

private:
    TargetPool();

    std::vector<Target> storage;
    std::deque<Target *> freeList;
    std::vector<Target *> inUse;

    static std::unique_ptr<TargetPool> pool;
};
