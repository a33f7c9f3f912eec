// Failing streams: for Initialize of both classes, Commit in place and Commit
// by rewrite, the Nth stream call of each kind fails, for every N up to the
// number of calls a successful run makes (source and destination streams).
// Each run fails with a failure code, or succeeds with exactly the right
// result; nothing leaks; a failed rewrite leaves the original as it was; and
// the same object then succeeds once the stream behaves.
#include "tests/robustness/case_monitor.h"
#include "tests/robustness/exercise.h"
#include "tests/robustness/figures.h"
#include "tests/robustness/memory_counters.h"
#include "tests/robustness/varied_fixtures.h"
#include "tests/support/memory_stream.h"
#include "tests/support/test_files.h"
#include "tests/thumbnail/recording_photo_provider.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace {

enum class Operation { HandlerInitialize, ThumbnailInitialize, CommitInPlace, CommitRewrite };

const char* Name(Operation operation)
{
    switch (operation) {
    case Operation::HandlerInitialize:
        return "handler-initialize";
    case Operation::ThumbnailInitialize:
        return "thumbnail-initialize";
    case Operation::CommitInPlace:
        return "commit-in-place";
    default:
        return "commit-rewrite";
    }
}

constexpr StreamCall kAllKinds[] = {StreamCall::Read,          StreamCall::Write,   StreamCall::Seek,
                                    StreamCall::Commit,        StreamCall::SetSize, StreamCall::Stat,
                                    StreamCall::GetDestination};

const char* KindName(StreamCall kind)
{
    const char* names[] = {"Read", "Write", "Seek", "Commit", "SetSize", "Stat", "GetDestination"};
    return names[static_cast<int>(kind)];
}

std::vector<NamedFixture> FixturesWithReferenceFiles()
{
    std::vector<NamedFixture> fixtures = VariedFixtures();
    for (const wchar_t* name : {L"tagged.flac", L"cover.flac"}) {
        fixtures.push_back({Narrow(name), ReadFileBytes(FixturePath(name))});
    }
    return fixtures;
}

// One planned failure: the nth call of a kind, on the source stream or on the
// destination stream of a rewrite.
struct Fault {
    StreamCall kind;
    int nth;
    bool onDestination;
};

// The outcome of one run of an operation: its result, the stream's bytes,
// what the handler or provider answered.
struct RunResult {
    HRESULT hr = E_FAIL;
    Bytes bytes;
    std::vector<std::wstring> values;
    Bytes pictureHandedOver;
    // Source-stream calls made before the operation started.
    std::map<StreamCall, int> callsBefore;
};

class FailingStreams : public testing::TestWithParam<Operation> {
protected:
    FailingStreams() : figures(std::string("failing-streams-") + Name(GetParam()))
    {
        CaseMonitor::Install(std::string("failing-streams-") + Name(GetParam()));
    }

    // A title that fits the padding, or one that outgrows it.
    std::wstring Title() const
    {
        return GetParam() == Operation::CommitRewrite ? std::wstring(9000, L'R') : std::wstring(L"t");
    }

    // Runs the operation over `original`, with `fault` planned if given.
    RunResult Run(const Bytes& original, const Fault* fault, ComPtr<MemoryStream>& stream)
    {
        RunResult result;
        stream = MemoryStream::Create(original);
        stream->EnableSafeSave();
        const auto plan = [&] {
            for (StreamCall kind : kAllKinds) {
                result.callsBefore[kind] = stream->Calls(kind);
            }
            if (fault == nullptr) {
                return;
            }
            if (fault->onDestination) {
                stream->FailDestinationCall(fault->kind, fault->nth);
            } else {
                stream->FailCall(fault->kind, fault->nth);
            }
        };
        if (GetParam() == Operation::ThumbnailInitialize) {
            auto provider = objects.NewThumbnail();
            plan();
            result.hr = InitializeObject(provider, stream.Get());
            if (FAILED(result.hr)) {
                HBITMAP bitmap = nullptr;
                WTS_ALPHATYPE alpha;
                EXPECT_EQ(provider->GetThumbnail(16, &bitmap, &alpha), E_FAIL);
                // Once the stream behaves, the same object initialises.
                EXPECT_EQ(InitializeObject(provider, stream.Get()), S_OK);
            }
            result.pictureHandedOver = photoProvider.Calls().bytes;
            return result;
        }
        auto store = objects.NewHandler();
        if (GetParam() == Operation::HandlerInitialize) {
            plan();
        }
        result.hr = InitializeObject(store, stream.Get());
        if (GetParam() == Operation::HandlerInitialize) {
            if (FAILED(result.hr)) {
                DWORD count = 99;
                EXPECT_EQ(store->GetCount(&count), S_OK);
                EXPECT_EQ(count, 0u);
                EXPECT_EQ(InitializeObject(store, stream.Get()), S_OK) << "a failed Initialize can be retried";
            }
            result.values = AllValues(store.Get());
            result.bytes = stream->Bytes();
            return result;
        }
        EXPECT_EQ(result.hr, S_OK);
        EXPECT_EQ(SetTitle(store.Get(), Title()), S_OK);
        plan();
        result.hr = store->Commit();
        result.bytes = stream->Bytes();
        if (FAILED(result.hr)) {
            if (GetParam() == Operation::CommitRewrite) {
                EXPECT_EQ(result.bytes, original) << "a failed rewrite leaves the original as it was";
            }
            // The change stays pending: the next Commit writes it.
            EXPECT_EQ(store->Commit(), S_OK);
            result.bytes = stream->Bytes();
        }
        result.values = AllValues(store.Get());
        return result;
    }

    void RunFixture(const NamedFixture& fixture)
    {
        // The successful run: the result to expect, and how many calls of
        // each kind there are to fail.
        ComPtr<MemoryStream> stream;
        const RunResult expected = Run(fixture.bytes, nullptr, stream);
        ASSERT_EQ(expected.hr, S_OK) << fixture.name;
        if (GetParam() == Operation::CommitInPlace) {
            ASSERT_EQ(stream->Calls(StreamCall::GetDestination), 0) << fixture.name << " is written in place";
            ASSERT_EQ(expected.bytes.size(), fixture.bytes.size());
        }
        if (GetParam() == Operation::CommitRewrite) {
            ASSERT_EQ(stream->Calls(StreamCall::GetDestination), 1) << fixture.name << " is rewritten";
        }
        std::vector<Fault> faults;
        for (StreamCall kind : kAllKinds) {
            for (int n = 1; n <= stream->Calls(kind) - expected.callsBefore.at(kind); ++n) {
                faults.push_back({kind, n, false});
            }
            for (int n = 1; n <= stream->DestinationCalls(kind); ++n) {
                faults.push_back({kind, n, true});
            }
        }
        stream.Reset();
        const std::int64_t baseline = allocations.LiveBlocks();

        for (const Fault& fault : faults) {
            const std::string name = fixture.name + ": " + Name(GetParam()) + ", " +
                                     (fault.onDestination ? "destination " : "") + KindName(fault.kind) + " #" +
                                     std::to_string(fault.nth) + " fails";
            SCOPED_TRACE(name);
            CaseScope scope(name);
            ComPtr<MemoryStream> faulty;
            const RunResult result = Run(fixture.bytes, &fault, faulty);
            EXPECT_TRUE(result.hr == S_OK || FAILED(result.hr)) << std::hex << result.hr;
            EXPECT_EQ(result.bytes, expected.bytes);
            EXPECT_EQ(result.values, expected.values);
            EXPECT_EQ(result.pictureHandedOver, expected.pictureHandedOver);
            if (result.hr == S_OK) {
                figures.Add("consistent_successes", 1);
            } else {
                figures.Add("failures_reported", 1);
            }
            if (result.bytes != expected.bytes) {
                figures.Add("data_lost", 1);
            }
            EXPECT_EQ(faulty->RefCount(), 1) << "nothing keeps the stream";
            if (MemoryStream* destination = faulty->Destination()) {
                EXPECT_EQ(destination->RefCount(), 1) << "nothing keeps the destination";
            }
            faulty.Reset();
            EXPECT_TRUE(objects.CanUnload()) << "every object was released";
            EXPECT_EQ(allocations.LiveBlocks(), baseline) << "task-allocator blocks all freed";
            figures.Add("faults_injected", 1);
            if (HasFailure()) {
                return;
            }
        }
    }

    Figures figures;
    RecordingPhotoProvider photoProvider;
    ServerObjects objects;
    TaskAllocatorCount allocations;
};

TEST_P(FailingStreams, EveryCallOfEveryKindFailsInTurn)
{
    ASSERT_EQ(photoProvider.RegistrationResult(), S_OK);
    ASSERT_TRUE(allocations.Registered());
    for (const NamedFixture& fixture : FixturesWithReferenceFiles()) {
        RunFixture(fixture);
        figures.Add("fixtures", 1);
        if (HasFailure()) {
            break;
        }
    }
    figures.Set("leaked_task_allocator_blocks", 0);
    figures.Set("crashes", 0);
    figures.Set("hangs", 0);
    figures.Add("data_lost", 0);
    figures.Finish();
}

INSTANTIATE_TEST_SUITE_P(Operations, FailingStreams,
                         testing::Values(Operation::HandlerInitialize, Operation::ThumbnailInitialize,
                                         Operation::CommitInPlace, Operation::CommitRewrite),
                         [](const testing::TestParamInfo<Operation>& info) {
                             std::string name = Name(info.param);
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

} // namespace
