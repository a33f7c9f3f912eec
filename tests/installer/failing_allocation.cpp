// Memory that runs out on request, in the test build of the installer's
// custom actions (quillbrook-actions-failing-write.dll): after
// FailAllocationsFrom(n), the first n allocations of operator new succeed
// and every later one throws std::bad_alloc, until FailAllocationsFrom(-1).
#include "platform/platform.h"

#include <cstdlib>
#include <new>

namespace {

// Allocations left before they fail; -1: none fails.
long AllocationsLeft = -1;
long Failed = 0;

} // namespace

extern "C" __declspec(dllexport) void FailAllocationsFrom(long allocation)
{
    AllocationsLeft = allocation;
    Failed = 0;
}

// How many allocations failed since FailAllocationsFrom.
extern "C" __declspec(dllexport) long FailedAllocations()
{
    return Failed;
}

void* operator new(std::size_t size)
{
    if (AllocationsLeft == 0) {
        ++Failed;
        throw std::bad_alloc();
    }
    if (AllocationsLeft > 0) {
        --AllocationsLeft;
    }
    if (void* block = std::malloc(size == 0 ? 1 : size)) {
        return block;
    }
    throw std::bad_alloc();
}

void* operator new[](std::size_t size)
{
    return operator new(size);
}

void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete[](void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}

void operator delete[](void* block, std::size_t) noexcept
{
    std::free(block);
}
