// The property handler over any bytes: Initialize, then GetCount, GetAt and
// GetValue of every key it offers and of every key it can answer. Initialize
// fails with a failure code or succeeds; a failed one offers no keys; every
// offered key answers; nothing is written.
#include "handler/property_bindings.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/handler_helpers.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    InitializeFuzzApartment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto stream = MemoryStream::Create(Bytes(data, data + size));
    auto store = NewPropertyHandler();
    FUZZ_CHECK(store);
    const HRESULT hr = InitializeWith(store.Get(), stream.Get());
    FUZZ_CHECK(hr == S_OK || FAILED(hr));
    DWORD count = 99;
    FUZZ_CHECK(store->GetCount(&count) == S_OK);
    FUZZ_CHECK(hr == S_OK || count == 0);
    for (DWORD i = 0; i < count; ++i) {
        PROPERTYKEY key;
        FUZZ_CHECK(store->GetAt(i, &key) == S_OK);
        PropVariant value;
        FUZZ_CHECK(store->GetValue(key, &value) == S_OK);
    }
    for (const GetterBinding& row : GetterTable) {
        PropVariant value;
        const HRESULT got = store->GetValue(row.key, &value);
        FUZZ_CHECK(got == S_OK || (hr != S_OK && FAILED(got)));
    }
    FUZZ_CHECK(stream->Calls(StreamCall::Write) == 0);
    store.Reset();
    FUZZ_CHECK(stream->RefCount() == 1);
    return 0;
}
