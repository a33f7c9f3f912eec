#include "tests/robustness/exercise.h"

#include "handler/property_bindings.h"
#include "tests/support/flac_layout.h"
#include "tests/support/memory_stream.h"
#include "tests/support/property_values.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

std::vector<std::wstring> AllValues(IPropertyStore* store)
{
    std::vector<std::wstring> values;
    for (const GetterBinding& row : GetterTable) {
        values.push_back(ValueOf(store, row.key));
    }
    return values;
}

void ExpectEveryOfferedKeyAnswers(IPropertyStore* store)
{
    DWORD count = 0;
    EXPECT_EQ(store->GetCount(&count), S_OK);
    for (DWORD i = 0; i < count; ++i) {
        PROPERTYKEY key;
        EXPECT_EQ(store->GetAt(i, &key), S_OK);
        PropVariant value;
        EXPECT_EQ(store->GetValue(key, &value), S_OK);
    }
}

HRESULT SetTitle(IPropertyStore* store, const std::wstring& title)
{
    PROPVARIANT value;
    InitPropVariantFromString(title.c_str(), &value);
    const HRESULT hr = store->SetValue(PKEY_Title, value);
    PropVariantClear(&value);
    return hr;
}

bool KeepsNonMetadata(const Bytes& original, const Bytes& written)
{
    FlacLayout before;
    try {
        before = ParseFlacLayout(original);
    } catch (const std::exception&) {
        return true;
    }
    FlacLayout after;
    try {
        after = ParseFlacLayout(written);
    } catch (const std::exception&) {
        return false;
    }
    const std::size_t front = before.prefixLength + 4;
    return after.prefixLength + 4 == front && std::equal(original.begin(), original.begin() + front, written.begin()) &&
           Tail(original, before.audioOffset) == Tail(written, after.audioOffset);
}

namespace {

bool ExerciseThumbnail(ServerObjects& objects, const Bytes& bytes)
{
    auto stream = MemoryStream::Create(bytes);
    bool initialized = false;
    {
        auto provider = objects.NewThumbnail();
        EXPECT_TRUE(provider);
        if (!provider) {
            return false;
        }
        const HRESULT hr = InitializeObject(provider, stream.Get());
        EXPECT_TRUE(hr == S_OK || FAILED(hr)) << std::hex << hr;
        initialized = hr == S_OK;
        HBITMAP bitmap = nullptr;
        WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
        const HRESULT thumbnail = provider->GetThumbnail(32, &bitmap, &alpha);
        if (!initialized) {
            EXPECT_EQ(thumbnail, E_FAIL) << "a provider that failed to initialise has no thumbnail";
        }
        if (bitmap != nullptr) {
            DeleteObject(bitmap);
        }
    }
    EXPECT_EQ(stream->RefCount(), 1) << "the thumbnail provider let go of the stream";
    EXPECT_EQ(stream->Calls(StreamCall::Write), 0) << "the thumbnail provider only reads";
    return initialized;
}

} // namespace

HostileOutcome ExerciseStream(ServerObjects& objects, const Bytes& bytes, bool longTitle)
{
    HostileOutcome outcome;
    outcome.thumbnailInitialized = ExerciseThumbnail(objects, bytes);

    auto stream = MemoryStream::Create(bytes);
    stream->EnableSafeSave();
    std::vector<std::wstring> before;
    const std::wstring title = longTitle ? std::wstring(400, L'T') + L" long" : L"Robust";
    {
        auto store = objects.NewHandler();
        EXPECT_TRUE(store);
        if (!store) {
            return outcome;
        }
        const HRESULT hr = InitializeObject(store, stream.Get());
        EXPECT_TRUE(hr == S_OK || FAILED(hr)) << std::hex << hr;
        EXPECT_EQ(stream->Calls(StreamCall::Write), 0) << "Initialize only reads";
        if (hr != S_OK) {
            DWORD count = 99;
            EXPECT_EQ(store->GetCount(&count), S_OK);
            EXPECT_EQ(count, 0u) << "a failed Initialize offers no keys";
        } else {
            outcome.handlerInitialized = true;
            ExpectEveryOfferedKeyAnswers(store.Get());
            before = AllValues(store.Get());
            EXPECT_EQ(SetTitle(store.Get(), title), S_OK);
            const HRESULT commit = store->Commit();
            EXPECT_TRUE(commit == S_OK || FAILED(commit)) << std::hex << commit;
            outcome.committed = commit == S_OK;
            if (FAILED(commit)) {
                EXPECT_EQ(stream->Bytes(), bytes) << "a failed Commit left the stream as it was";
            }
        }
    }
    EXPECT_EQ(stream->RefCount(), 1) << "the handler let go of the stream";
    if (!outcome.committed) {
        return outcome;
    }

    // The written stream reads back: the new title, everything else as before.
    const Bytes written = stream->Bytes();
    outcome.dataLost = !KeepsNonMetadata(bytes, written);
    EXPECT_FALSE(outcome.dataLost) << "the bytes that are not metadata survive the commit";
    auto again = MemoryStream::Create(written);
    auto store = objects.NewHandler();
    const HRESULT hr = InitializeObject(store, again.Get());
    EXPECT_EQ(hr, S_OK) << "the written stream reads back";
    if (hr == S_OK) {
        std::vector<std::wstring> after = AllValues(store.Get());
        for (std::size_t i = 0; i < GetterTable.size(); ++i) {
            const PROPERTYKEY& key = GetterTable[i].key;
            if (std::memcmp(&key, &PKEY_Title, sizeof(key)) == 0) {
                EXPECT_EQ(after[i], L"s:" + title);
            } else {
                EXPECT_EQ(after[i], before[i]) << "value " << i << " is kept";
            }
        }
    }
    return outcome;
}
