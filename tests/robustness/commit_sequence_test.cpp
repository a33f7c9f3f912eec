// Seeded sequences of edits and commits on one property handler, with
// failures planned in random calls of the file stream or of the destination
// stream before most commits (sometimes a second one, such as a failing
// Revert). After every step the file must hold what the last successful
// Commit wrote or, when this Commit succeeded, exactly the edits made so far;
// the handler keeps every edit pending until a Commit succeeds. On both kinds
// of stream, with and without destinations, a stream may break part way
// through a write, so that the write and the putting back of what it
// overwrote both fail: the file may then stay damaged until a Commit mends
// it, by putting the old bytes back or by writing the new file. A Commit with
// no failure planned fails only where a new handler with the same edits on
// the last committed file fails too: no failure ever leaves a handler stuck.
#include "handler/property_bindings.h"
#include "tests/robustness/case_monitor.h"
#include "tests/robustness/exercise.h"
#include "tests/robustness/figures.h"
#include "tests/robustness/varied_fixtures.h"
#include "tests/support/memory_stream.h"
#include "tests/support/property_values.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <random>

namespace {

constexpr int kSeeds = 10;
constexpr int kStepsPerSeed = 400;
constexpr auto kTimeBound = std::chrono::seconds(240);

// The edited properties, and how each reads back a single text.
struct EditedProperty {
    const PROPERTYKEY& key;
    const wchar_t* prefix;
};
const EditedProperty kEdited[] = {
    {PKEY_Title, L"s:"}, {PKEY_Music_Artist, L"v:"}, {PKEY_Music_AlbumTitle, L"s:"}, {PKEY_Comment, L"s:"}};

constexpr StreamCall kSourceKinds[] = {StreamCall::Read,   StreamCall::Write,          StreamCall::Seek,
                                       StreamCall::Commit, StreamCall::GetDestination, StreamCall::Revert};
constexpr StreamCall kDestinationKinds[] = {StreamCall::Write, StreamCall::Seek, StreamCall::Read};

using Values = std::map<const PROPERTYKEY*, std::wstring>;
// Edits not yet committed, in order; an empty text removes the property.
using Edits = std::vector<std::pair<const PROPERTYKEY*, std::wstring>>;

HRESULT SetTextOrRemove(IPropertyStore* store, const PROPERTYKEY& key, const std::wstring& text)
{
    PROPVARIANT value;
    PropVariantInit(&value);
    if (!text.empty()) {
        InitPropVariantFromString(text.c_str(), &value);
    }
    const HRESULT hr = store->SetValue(key, value);
    PropVariantClear(&value);
    return hr;
}

Values ReadEdited(IPropertyStore* store)
{
    Values values;
    for (const EditedProperty& property : kEdited) {
        values[&property.key] = ValueOf(store, property.key);
    }
    return values;
}

class CommitSequences : public testing::Test {
protected:
    CommitSequences() : figures("commit-sequences") { CaseMonitor::Install("commit-sequences"); }

    // What a new handler reads from `bytes`: every value, or nothing when the
    // file cannot be read.
    std::vector<std::wstring> ReadBack(const Bytes& bytes)
    {
        auto stream = MemoryStream::Create(bytes);
        auto store = objects.NewHandler();
        if (InitializeObject(store, stream.Get()) != S_OK) {
            return {};
        }
        return AllValues(store.Get());
    }

    // The values a file holding `edited` over `original` reads as.
    static std::vector<std::wstring> Expected(const std::vector<std::wstring>& original, const Values& edited)
    {
        std::vector<std::wstring> values = original;
        std::size_t row = 0;
        for (const GetterBinding& binding : GetterTable) {
            for (const auto& [key, value] : edited) {
                if (IsEqualPropertyKey(binding.key, *key)) {
                    values[row] = value;
                }
            }
            ++row;
        }
        return values;
    }

    // A random edit of one property: a short text, a text that outgrows the
    // padding, or no value (the property is removed).
    HRESULT Edit(std::mt19937& random, IPropertyStore* store, Values& model, Edits& pending)
    {
        const EditedProperty& property = kEdited[random() % std::size(kEdited)];
        const unsigned shape = random() % 10;
        std::wstring text;
        if (shape < 2) {
            model[&property.key] = L"empty";
        } else {
            const std::size_t length = shape < 4 ? 200 + random() % 1800 : 1 + random() % 8;
            text.assign(length, static_cast<wchar_t>(L'a' + random() % 26));
            text += std::to_wstring(random() % 1000);
            model[&property.key] = property.prefix + text;
        }
        pending.emplace_back(&property.key, text);
        return SetTextOrRemove(store, property.key, text);
    }

    // What a new handler's Commit of `pending` over `bytes` gives.
    HRESULT FreshCommit(const Bytes& bytes, const Edits& pending, bool safeSave)
    {
        auto stream = MemoryStream::Create(bytes);
        if (safeSave) {
            stream->EnableSafeSave();
        }
        auto store = objects.NewHandler();
        const HRESULT hr = InitializeObject(store, stream.Get());
        if (hr != S_OK) {
            return hr;
        }
        for (const auto& [key, text] : pending) {
            SetTextOrRemove(store.Get(), *key, text);
        }
        return store->Commit();
    }

    // Plans a failure of a random call for the next Commit; returns whether
    // one was planned. A stream that breaks part way through a write
    // (`broken`) also refuses to take back what it overwrote; a second fault
    // may then fail another call of the same Commit.
    static bool PlanFault(std::mt19937& random, MemoryStream& stream, bool& broken)
    {
        const unsigned roll = random() % 10;
        broken = false;
        if (roll < 2) {
            return false;
        }
        const int nth = 1 + static_cast<int>(random() % 4);
        if (roll < 4) {
            stream.LimitWrites(random() % 256);
            broken = true;
            if (random() % 2 == 0) {
                const StreamCall kind = kSourceKinds[random() % std::size(kSourceKinds)];
                stream.FailCall(kind, kind == StreamCall::Commit || kind == StreamCall::Revert ? 1 : nth);
            }
        } else if (roll < 5) {
            stream.FailDestinationCall(kDestinationKinds[random() % std::size(kDestinationKinds)], nth);
        } else {
            const StreamCall kind = kSourceKinds[random() % std::size(kSourceKinds)];
            stream.FailCall(kind, kind == StreamCall::Commit || kind == StreamCall::Revert ? 1 : nth);
        }
        if (random() % 6 == 0) {
            stream.FailCall(StreamCall::Revert, 1);
        }
        return true;
    }

    void RunSeed(unsigned seed, const NamedFixture& fixture, std::chrono::steady_clock::time_point deadline)
    {
        std::mt19937 random(seed);
        const bool safeSave = seed % 3 != 0;
        auto stream = MemoryStream::Create(fixture.bytes);
        if (safeSave) {
            stream->EnableSafeSave();
        }
        auto store = objects.NewHandler();
        ASSERT_EQ(InitializeObject(store, stream.Get()), S_OK) << fixture.name;

        const std::vector<std::wstring> original = AllValues(store.Get());
        Values model = ReadEdited(store.Get());
        Edits pending;
        Bytes committed = fixture.bytes;
        // What a failed Commit leaves: the last committed file, or what a
        // broken stream left of it until a Commit succeeds.
        Bytes unchanged = committed;
        for (int step = 0; step < kStepsPerSeed; ++step) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "out of time at seed " << seed;
            const std::string name =
                "seed " + std::to_string(seed) + " (" + fixture.name + "), step " + std::to_string(step);
            SCOPED_TRACE(name);
            CaseScope scope(name);
            figures.Add("sequence_steps", 1);
            if (random() % 2 == 0) {
                ASSERT_EQ(Edit(random, store.Get(), model, pending), S_OK);
                ASSERT_EQ(stream->Bytes(), unchanged) << "an edit alone writes nothing";
                continue;
            }
            bool broken = false;
            const bool planned = PlanFault(random, *stream.Get(), broken);
            if (planned) {
                figures.Add("sequence_faults_planned", 1);
            }
            const HRESULT hr = store->Commit();
            stream->ClearFailures();
            ASSERT_EQ(ReadEdited(store.Get()), model) << "the handler keeps the edits";
            if (FAILED(hr)) {
                figures.Add("sequence_commits_failed", 1);
                if (!planned && FreshCommit(committed, pending, safeSave) != hr) {
                    FAIL() << "nothing failed, yet Commit gave 0x" << std::hex << hr
                           << " where a new handler gives another result";
                }
                if (broken) {
                    unchanged = stream->Bytes();
                } else if (stream->Bytes() == committed) {
                    // A file a broken write had damaged, mended.
                    unchanged = committed;
                } else if (stream->Bytes() != unchanged) {
                    figures.Add("data_lost", 1);
                    FAIL() << "a failed Commit (0x" << std::hex << hr << ") changed the file";
                }
                continue;
            }
            pending.clear();
            ASSERT_EQ(hr, S_OK);
            figures.Add("sequence_commits_succeeded", 1);
            if (ReadBack(stream->Bytes()) != Expected(original, model) ||
                !KeepsNonMetadata(fixture.bytes, stream->Bytes())) {
                figures.Add("data_lost", 1);
                FAIL() << "a successful Commit left a file without exactly the edits";
            }
            committed = stream->Bytes();
            unchanged = committed;
        }
    }

    Figures figures;
    ServerObjects objects;
};

TEST_F(CommitSequences, FileHoldsLastCommittedOrNewContentAfterEveryStep)
{
    const auto deadline = std::chrono::steady_clock::now() + kTimeBound;
    const std::vector<NamedFixture>& fixtures = VariedFixtures();
    for (unsigned seed = 1; seed <= kSeeds && !HasFailure(); ++seed) {
        RunSeed(seed, fixtures[seed % fixtures.size()], deadline);
    }
    figures.Set("crashes", 0);
    figures.Set("hangs", 0);
    figures.Add("data_lost", 0);
    figures.Finish();
    EXPECT_GE(figures.Get("sequence_steps"), 2000);
}

} // namespace
