#include "bench/measurements.h"
#include "server/identifiers.h"
#include "tests/support/com_helpers.h"

HRESULT MeasureRead(const ClassSource& source, const CorpusFile& file, ReadTimes& times, StreamCounts* counts)
{
    const Stopwatch clock;
    ComPtr<IStream> stream;
    HRESULT hr = OpenFileStream(file.path, STGM_READ | STGM_SHARE_DENY_WRITE, FALSE, stream.Put());
    if (FAILED(hr)) {
        return hr;
    }
    if (counts != nullptr) {
        stream = ComPtr<IStream>::Adopt(CountingStream::Create(stream.Get(), *counts));
    }
    const double opened = clock.Micros();

    ComPtr<IPropertyStore> store;
    hr = source.Create(CLSID_PropertyHandler, IID_IPropertyStore, store.PutVoid());
    if (FAILED(hr)) {
        return hr;
    }
    const double created = clock.Micros();

    ComPtr<IInitializeWithStream> initialize = store.As<IInitializeWithStream>();
    hr = initialize ? initialize->Initialize(stream.Get(), STGM_READ) : E_NOINTERFACE;
    if (FAILED(hr)) {
        return hr;
    }
    const double initialized = clock.Micros();

    DWORD count = 0;
    hr = store->GetCount(&count);
    for (DWORD i = 0; SUCCEEDED(hr) && i < count; ++i) {
        PROPERTYKEY key;
        hr = store->GetAt(i, &key);
        if (SUCCEEDED(hr)) {
            PROPVARIANT value;
            PropVariantInit(&value);
            hr = store->GetValue(key, &value);
            PropVariantClear(&value);
        }
    }
    if (FAILED(hr)) {
        return hr;
    }
    const double valued = clock.Micros();
    initialize.Reset();
    store.Reset();
    stream.Reset();

    times.total = clock.Micros();
    times.open = opened;
    times.create = created - opened;
    times.initialize = initialized - created;
    times.values = valued - initialized;
    times.release = times.total - valued;
    times.properties = count;
    return S_OK;
}

HRESULT MeasureFloor(const CorpusFile& file, std::vector<BYTE>& buffer, double& micros)
{
    const ULONG needed = static_cast<ULONG>(file.extent.neededBytes);
    if (buffer.size() < needed) {
        buffer.resize(needed);
    }
    const Stopwatch clock;
    IStream* stream = nullptr;
    HRESULT hr = OpenFileStream(file.path, STGM_READ | STGM_SHARE_DENY_WRITE, FALSE, &stream);
    if (FAILED(hr)) {
        return hr;
    }
    ULONG read = 0;
    hr = stream->Read(buffer.data(), needed, &read);
    stream->Release();
    micros = clock.Micros();
    return FAILED(hr) ? hr : read == needed ? S_OK : E_FAIL;
}

HRESULT MeasureInitializeInMemory(const ClassSource& source, const CorpusFile& file, std::vector<BYTE>& buffer,
                                  double& micros)
{
    // The metadata and nothing after it: Initialize reads no audio.
    const ULONG length = static_cast<ULONG>(file.extent.audioOffset);
    if (buffer.size() < length) {
        buffer.resize(length);
    }
    HANDLE handle = CreateFileW(file.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    DWORD read = 0;
    const BOOL ok = ReadFile(handle, buffer.data(), length, &read, nullptr);
    CloseHandle(handle);
    if (!ok || read != length) {
        return E_FAIL;
    }
    ComPtr<IStream> stream = ComPtr<IStream>::Adopt(SHCreateMemStream(buffer.data(), length));
    ComPtr<IPropertyStore> store;
    HRESULT hr = stream ? source.Create(CLSID_PropertyHandler, IID_IPropertyStore, store.PutVoid()) : E_OUTOFMEMORY;
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<IInitializeWithStream> initialize = store.As<IInitializeWithStream>();
    const Stopwatch clock;
    hr = initialize ? initialize->Initialize(stream.Get(), STGM_READ) : E_NOINTERFACE;
    micros = clock.Micros();
    return hr;
}
