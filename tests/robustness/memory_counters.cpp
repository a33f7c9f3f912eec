#include "tests/robustness/memory_counters.h"

#include <map>
#include <mutex>
#include <vector>

namespace {

// Live spied blocks and their sizes. Calls may come from any thread.
class CountingSpy final : public IMallocSpy {
public:
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        if (iid == IID_IUnknown || iid == IID_IMallocSpy) {
            *ppv = static_cast<IMallocSpy*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return 2; }
    STDMETHOD_(ULONG, Release)() override { return 1; }

    STDMETHOD_(SIZE_T, PreAlloc)(SIZE_T request) override
    {
        t_request = request;
        return request;
    }
    STDMETHOD_(void*, PostAlloc)(void* actual) override
    {
        if (actual != nullptr) {
            Insert(actual, t_request);
        }
        return actual;
    }
    STDMETHOD_(void*, PreFree)(void* request, BOOL) override
    {
        Erase(request);
        return request;
    }
    STDMETHOD_(void, PostFree)(BOOL) override {}
    STDMETHOD_(SIZE_T, PreRealloc)(void* request, SIZE_T size, void** newRequest, BOOL) override
    {
        t_realloc = request;
        t_request = size;
        *newRequest = request;
        return size;
    }
    STDMETHOD_(void*, PostRealloc)(void* actual, BOOL) override
    {
        // A failed reallocation leaves the old block; a size of 0 frees it.
        if (actual != nullptr) {
            Erase(t_realloc);
            Insert(actual, t_request);
        } else if (t_request == 0) {
            Erase(t_realloc);
        }
        return actual;
    }
    STDMETHOD_(void*, PreGetSize)(void* request, BOOL) override { return request; }
    STDMETHOD_(SIZE_T, PostGetSize)(SIZE_T actual, BOOL) override { return actual; }
    STDMETHOD_(void*, PreDidAlloc)(void* request, BOOL) override { return request; }
    STDMETHOD_(int, PostDidAlloc)(void*, BOOL, int actual) override { return actual; }
    STDMETHOD_(void, PreHeapMinimize)() override {}
    STDMETHOD_(void, PostHeapMinimize)() override {}

    std::int64_t Blocks()
    {
        std::lock_guard lock(m_mutex);
        return static_cast<std::int64_t>(m_blocks.size());
    }
    std::int64_t Bytes()
    {
        std::lock_guard lock(m_mutex);
        return m_bytes;
    }
    std::int64_t Allocated()
    {
        std::lock_guard lock(m_mutex);
        return m_allocated;
    }
    void Reset()
    {
        std::lock_guard lock(m_mutex);
        m_allocated = 0;
        m_blocks.clear();
        m_bytes = 0;
    }

private:
    void Insert(void* block, SIZE_T size)
    {
        std::lock_guard lock(m_mutex);
        ++m_allocated;
        m_blocks[block] = size;
        m_bytes += static_cast<std::int64_t>(size);
    }
    void Erase(void* block)
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_blocks.find(block);
        if (found != m_blocks.end()) {
            m_bytes -= static_cast<std::int64_t>(found->second);
            m_blocks.erase(found);
        }
    }

    static thread_local SIZE_T t_request;
    static thread_local void* t_realloc;
    std::mutex m_mutex;
    std::map<void*, SIZE_T> m_blocks;
    std::int64_t m_bytes = 0;
    std::int64_t m_allocated = 0;
};

thread_local SIZE_T CountingSpy::t_request = 0;
thread_local void* CountingSpy::t_realloc = nullptr;

CountingSpy g_spy;

} // namespace

TaskAllocatorCount::TaskAllocatorCount()
{
    g_spy.Reset();
    m_registered = CoRegisterMallocSpy(&g_spy) == S_OK;
}

TaskAllocatorCount::~TaskAllocatorCount()
{
    if (m_registered) {
        CoRevokeMallocSpy();
    }
}

std::int64_t TaskAllocatorCount::LiveBlocks() const
{
    return g_spy.Blocks();
}

std::int64_t TaskAllocatorCount::Allocated() const
{
    return g_spy.Allocated();
}

std::int64_t TaskAllocatorCount::LiveBytes() const
{
    return g_spy.Bytes();
}

std::int64_t HeapBytesInUse()
{
    std::vector<HANDLE> heaps(64);
    DWORD count = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
    if (count > heaps.size()) {
        heaps.resize(count);
        count = GetProcessHeaps(count, heaps.data());
    }
    std::int64_t total = 0;
    for (DWORD i = 0; i < count && i < heaps.size(); ++i) {
        if (!HeapLock(heaps[i])) {
            continue;
        }
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[i], &entry)) {
            if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) {
                total += static_cast<std::int64_t>(entry.cbData);
            }
        }
        HeapUnlock(heaps[i]);
    }
    return total;
}

std::int64_t PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                              sizeof(counters))) {
        return -1;
    }
    return static_cast<std::int64_t>(counters.PrivateUsage);
}
