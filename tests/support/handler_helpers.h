// Creating property handlers over test streams, and reading their values.
#pragma once

#include "handler/property_handler.h"
#include "tests/support/com_helpers.h"
#include "tests/support/flac_builder.h"
#include "tests/support/memory_stream.h"

#include <vector>

inline ComPtr<IPropertyStore> NewPropertyHandler()
{
    ComPtr<IPropertyStore> store;
    CPropertyHandler::CreateInstance(nullptr, IID_IPropertyStore, &store);
    return store;
}

inline HRESULT InitializeWith(IPropertyStore* store, IStream* stream)
{
    ComPtr<IInitializeWithStream> init;
    store->QueryInterface(IID_IInitializeWithStream, &init);
    return init->Initialize(stream, STGM_READWRITE);
}

// A handler initialised over a memory stream holding `bytes`.
struct LoadedHandler {
    explicit LoadedHandler(const Bytes& bytes) : stream(MemoryStream::Create(bytes)), store(NewPropertyHandler())
    {
        result = InitializeWith(store.Get(), stream.Get());
    }

    std::vector<PROPERTYKEY> Keys() const
    {
        DWORD count = 0;
        store->GetCount(&count);
        std::vector<PROPERTYKEY> keys(count);
        for (DWORD i = 0; i < count; ++i) {
            store->GetAt(i, &keys[i]);
        }
        return keys;
    }

    ComPtr<MemoryStream> stream;
    ComPtr<IPropertyStore> store;
    HRESULT result = E_FAIL;
};
