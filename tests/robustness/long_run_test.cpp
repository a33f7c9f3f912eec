// Long runs: 10,000 create / initialise / read all / set / commit / release
// cycles over a mix of streams. Task-allocator blocks handed out during the
// run all come back, heap use and private bytes stay flat after warm-up, and
// the module can be unloaded at the end.
#include "tests/robustness/case_monitor.h"
#include "tests/robustness/exercise.h"
#include "tests/robustness/figures.h"
#include "tests/robustness/memory_counters.h"
#include "tests/robustness/varied_fixtures.h"
#include "tests/support/memory_stream.h"
#include "tests/support/property_values.h"
#include "tests/support/test_files.h"
#include "tests/thumbnail/recording_photo_provider.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

constexpr int kWarmUpCycles = 500;
constexpr int kCycles = 10000;
constexpr std::int64_t kPrivateBytesBound = 1 << 20;
// Allocator bookkeeping may move a little; a leak of even 8 bytes a cycle
// would pass this by far.
constexpr std::int64_t kHeapBytesBound = 16 * 1024;

std::vector<Bytes> MixOfStreams()
{
    std::vector<Bytes> streams;
    for (const NamedFixture& fixture : VariedFixtures()) {
        streams.push_back(fixture.bytes);
    }
    for (const wchar_t* name : {L"tagged.flac", L"cover.flac", L"unicode.flac", L"mono.flac", L"fallback.flac"}) {
        streams.push_back(ReadFileBytes(FixturePath(name)));
    }
    return streams;
}

// One cycle; every 10th grows the tags past the padding and rewrites.
void Cycle(ServerObjects& objects, const Bytes& bytes, int cycle)
{
    auto stream = MemoryStream::Create(bytes);
    stream->EnableSafeSave();
    const bool rewrite = cycle % 10 == 0;
    const std::wstring title = L"cycle " + std::to_wstring(cycle) + (rewrite ? std::wstring(9000, L'+') : L"");
    {
        auto store = objects.NewHandler();
        ASSERT_EQ(InitializeObject(store, stream.Get()), S_OK);
        ExpectEveryOfferedKeyAnswers(store.Get());
        ASSERT_EQ(SetTitle(store.Get(), title), S_OK);
        ASSERT_EQ(store->Commit(), S_OK);
    }
    ASSERT_EQ(stream->RefCount(), 1);
    {
        auto store = objects.NewHandler();
        ASSERT_EQ(InitializeObject(store, stream.Get()), S_OK);
        ASSERT_EQ(ValueOf(store.Get(), PKEY_Title), L"s:" + title);
    }
    auto provider = objects.NewThumbnail();
    ASSERT_EQ(InitializeObject(provider, stream.Get()), S_OK);
}

TEST(LongRun, TenThousandCyclesReturnEveryAllocation)
{
    CaseMonitor::Install("long-run");
    Figures figures("long-run");
    RecordingPhotoProvider photoProvider;
    ASSERT_EQ(photoProvider.RegistrationResult(), S_OK);
    const std::vector<Bytes> streams = MixOfStreams();
    std::optional<ServerObjects> objects(std::in_place);

    std::optional<TaskAllocatorCount> allocations;
    std::int64_t blocksBefore = 0;
    std::int64_t heapBefore = 0;
    std::int64_t privateBefore = 0;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        // The counting itself takes memory once: it starts within the
        // warm-up, and the baseline is taken at its end.
        if (cycle == kWarmUpCycles - 100) {
            allocations.emplace();
            ASSERT_TRUE(allocations->Registered());
        }
        if (cycle == kWarmUpCycles) {
            blocksBefore = allocations->LiveBlocks();
            heapBefore = HeapBytesInUse();
            privateBefore = PrivateBytes();
        }
        const std::string name = "cycle " + std::to_string(cycle);
        SCOPED_TRACE(name);
        CaseScope scope(name);
        Cycle(*objects, streams[static_cast<std::size_t>(cycle) % streams.size()], cycle);
        if (HasFailure()) {
            break;
        }
        figures.Add("cycles", 1);
    }
    const std::int64_t heapGrowth = HeapBytesInUse() - heapBefore;
    const std::int64_t privateGrowth = PrivateBytes() - privateBefore;
    const std::int64_t liveBlocks = allocations ? allocations->LiveBlocks() : -1;
    figures.Set("task_allocator_blocks_at_warm_up", blocksBefore);
    figures.Set("task_allocator_blocks_handed_out", allocations ? allocations->Allocated() : -1);
    figures.Set("warm_up_cycles", kWarmUpCycles);
    figures.Set("leaked_task_allocator_blocks", liveBlocks);
    figures.Set("leaked_task_allocator_bytes", allocations ? allocations->LiveBytes() : -1);
    figures.Set("heap_growth_bytes", heapGrowth);
    figures.Set("private_bytes_growth", privateGrowth);
    EXPECT_EQ(figures.Get("cycles"), kCycles);
    EXPECT_GT(figures.Get("task_allocator_blocks_handed_out"), kCycles) << "the count sees the values handed out";
    EXPECT_EQ(blocksBefore, 0) << "every task-allocator block handed out in the warm-up was freed";
    EXPECT_EQ(liveBlocks, 0) << "every task-allocator block handed out was freed";
    EXPECT_LE(heapGrowth, kHeapBytesBound);
    EXPECT_LE(privateGrowth, kPrivateBytesBound);

    EXPECT_EQ(objects->server.canUnloadNow(), S_OK) << "no instance or lock is left";
    figures.Set("can_unload_now", objects->server.canUnloadNow() == S_OK);
    allocations.reset();
    objects.reset();
    figures.Set("crashes", 0);
    figures.Set("hangs", 0);
    figures.Set("data_lost", 0);
    figures.Finish();
}

} // namespace
