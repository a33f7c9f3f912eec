// SetValue of a few tags and Commit, in place or through a destination, over
// any bytes, then a second handler over the result. The input's first two
// bytes choose the stream (one that hands out destinations or one that does
// not) and the edits; the rest is the file. A failed Commit leaves the stream as
// it was; a successful one reads back with every value as the handler
// answered just before Commit.
#include "handler/property_bindings.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/handler_helpers.h"
#include "tests/support/property_values.h"

#include <string>

namespace {

const wchar_t* const kTexts[] = {
    L"Fuzz",
    L"",
    L"\u00D8rjan \u00C5s \U0001F3BB",
    L"a=b; c",
};

std::wstring TextFor(unsigned choice)
{
    if (choice >= 4) {
        return std::wstring(600, L'L'); // outgrows any padding
    }
    return kTexts[choice];
}

std::vector<std::wstring> AllValues(IPropertyStore* store)
{
    std::vector<std::wstring> values;
    for (const GetterBinding& row : GetterTable) {
        values.push_back(ValueOf(store, row.key));
    }
    return values;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    InitializeFuzzApartment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) {
        return 0;
    }
    // The first byte: a stream with destinations or not (bit 0) and the rows
    // of the two edits (bits 1-3, 4-6); the second: their texts (bits 0-2,
    // 3-5).
    const unsigned rows = data[0];
    const unsigned texts = data[1];
    const Bytes original(data + 2, data + size);
    auto stream = MemoryStream::Create(original);
    if ((rows & 1) != 0) {
        stream->EnableSafeSave();
    }
    std::vector<std::wstring> expected;
    HRESULT commit = E_FAIL;
    {
        auto store = NewPropertyHandler();
        if (InitializeWith(store.Get(), stream.Get()) != S_OK) {
            return 0;
        }
        for (unsigned edit = 0; edit < 2; ++edit) {
            const SetterBinding& setter = SetterTable[((rows >> (1 + 3 * edit)) & 7) % SetterTable.size()];
            PROPVARIANT value;
            FUZZ_CHECK(SUCCEEDED(InitPropVariantFromString(TextFor((texts >> (3 * edit)) & 7).c_str(), &value)));
            const HRESULT set = store->SetValue(setter.key, value);
            PropVariantClear(&value);
            FUZZ_CHECK(set == S_OK || FAILED(set));
        }
        expected = AllValues(store.Get());
        commit = store->Commit();
        FUZZ_CHECK(commit == S_OK || FAILED(commit));
    }
    FUZZ_CHECK(stream->RefCount() == 1);
    if (FAILED(commit)) {
        FUZZ_CHECK(stream->Bytes() == original);
        return 0;
    }
    auto again = MemoryStream::Create(stream->Bytes());
    auto store = NewPropertyHandler();
    FUZZ_CHECK(InitializeWith(store.Get(), again.Get()) == S_OK);
    // Every value as the handler answered just before Commit: the values set,
    // and all the others as they were.
    FUZZ_CHECK(AllValues(store.Get()) == expected);
    return 0;
}
