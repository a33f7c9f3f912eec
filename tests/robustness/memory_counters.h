// Counting memory for leak checks: blocks handed out through the COM task
// allocator (counted by a malloc spy), bytes in use on the process heaps, and
// the process's private bytes.
#pragma once

#include "platform/platform.h"

#include <cstdint>

// Counts the task-allocator blocks allocated while it is registered and not
// yet freed. One per process at a time.
class TaskAllocatorCount {
public:
    TaskAllocatorCount();
    ~TaskAllocatorCount();
    TaskAllocatorCount(const TaskAllocatorCount&) = delete;
    TaskAllocatorCount& operator=(const TaskAllocatorCount&) = delete;

    bool Registered() const { return m_registered; }
    std::int64_t LiveBlocks() const;
    std::int64_t LiveBytes() const;
    // Blocks allocated (and reallocated) since registration.
    std::int64_t Allocated() const;

private:
    bool m_registered = false;
};

// Bytes in busy blocks over all heaps of the process.
std::int64_t HeapBytesInUse();
// The process's private bytes as the system reports them.
std::int64_t PrivateBytes();
