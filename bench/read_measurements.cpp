#include "bench/measurements.h"
#include "flacio/buffered_stream.h"
#include "resources/identifiers.h"
#include "tests/support/com_helpers.h"

namespace {

// The file's stream for reading, behind a counting stream when counts or a
// delay are asked for.
HRESULT OpenReadStream(const CorpusFile& file, StreamCounts* counts, double delayMicros, StreamCounts& uncounted,
                       ComPtr<IStream>& stream)
{
    HRESULT hr = OpenFileStream(file.path, STGM_READ | STGM_SHARE_DENY_WRITE, FALSE, &stream);
    if (FAILED(hr)) {
        return hr;
    }
    if (counts != nullptr || delayMicros > 0) {
        stream = CountingStream::Create(stream.Get(), counts != nullptr ? *counts : uncounted, nullptr, delayMicros);
    }
    return stream ? S_OK : E_OUTOFMEMORY;
}

// The blocks of task memory a value holds.
DWORD TaskBlocksOf(const PROPVARIANT& value) noexcept
{
    switch (value.vt) {
    case VT_LPWSTR:
        return 1;
    case VT_VECTOR | VT_LPWSTR:
        return 1 + value.calpwstr.cElems;
    default:
        return 0;
    }
}

} // namespace

HRESULT MeasureRead(IClassFactory* handlerClass, const CorpusFile& file, ReadTimes& times, StreamCounts* counts,
                    double delayMicros)
{
    StreamCounts uncounted;
    const Stopwatch clock;
    ComPtr<IStream> stream;
    HRESULT hr = OpenReadStream(file, counts, delayMicros, uncounted, stream);
    if (FAILED(hr)) {
        return hr;
    }
    const double opened = clock.Micros();

    ComPtr<IPropertyStore> store;
    hr = handlerClass->CreateInstance(nullptr, IID_IPropertyStore, &store);
    if (FAILED(hr)) {
        return hr;
    }
    const double created = clock.Micros();

    ComPtr<IInitializeWithStream> initialize = As<IInitializeWithStream>(store);
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
            times.taskBlocks += TaskBlocksOf(value);
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

HRESULT MeasureActivation(const ClassSource& source, double& micros)
{
    const Stopwatch clock;
    ComPtr<IPropertyStore> store;
    const HRESULT hr = source.Create(CLSID_PropertyHandler, IID_IPropertyStore, &store);
    store.Reset();
    micros = clock.Micros();
    return hr;
}

double MeasureTaskBlock()
{
    constexpr int Blocks = 100;
    const Stopwatch clock;
    for (int i = 0; i < Blocks; ++i) {
        PROPVARIANT value;
        value.vt = VT_LPWSTR;
        value.pwszVal = static_cast<PWSTR>(CoTaskMemAlloc(32));
        PropVariantClear(&value);
    }
    return clock.Micros() / Blocks;
}

HRESULT MeasureThumbnailInitialize(IClassFactory* thumbnailClass, const CorpusFile& file, double& micros,
                                   StreamCounts& counts)
{
    StreamCounts uncounted;
    ComPtr<IStream> stream;
    HRESULT hr = OpenReadStream(file, &counts, 0, uncounted, stream);
    ComPtr<IInitializeWithStream> initialize;
    if (SUCCEEDED(hr)) {
        hr = thumbnailClass->CreateInstance(nullptr, IID_IInitializeWithStream, &initialize);
    }
    if (FAILED(hr)) {
        return hr;
    }
    const Stopwatch clock;
    hr = initialize->Initialize(stream.Get(), STGM_READ);
    micros = clock.Micros();
    return hr;
}

HRESULT MeasureFloor(const CorpusFile& file, std::vector<BYTE>& buffer, double& micros, double delayMicros)
{
    const ULONG needed = static_cast<ULONG>(file.extent.neededBytes);
    if (buffer.size() < needed) {
        buffer.resize(needed);
    }
    StreamCounts uncounted;
    const Stopwatch clock;
    ComPtr<IStream> stream;
    HRESULT hr = OpenReadStream(file, nullptr, delayMicros, uncounted, stream);
    if (FAILED(hr)) {
        return hr;
    }
    // The read first, from where the stream opens; then the size, by a seek
    // to the end, as the handler's stream layer asks it.
    ULONG read = 0;
    hr = stream->Read(buffer.data(), needed, &read);
    ULARGE_INTEGER size{};
    if (SUCCEEDED(hr)) {
        const LARGE_INTEGER zero{};
        hr = stream->Seek(zero, STREAM_SEEK_END, &size);
    }
    stream.Reset();
    micros = clock.Micros();
    return FAILED(hr) ? hr : read == needed && size.QuadPart == file.size ? S_OK : E_FAIL;
}

namespace {

// The file's metadata (and nothing after it: Initialize reads no audio) in
// `buffer`, behind a memory stream.
HRESULT MetadataInMemory(const CorpusFile& file, std::vector<BYTE>& buffer, ComPtr<IStream>& stream)
{
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
    // Takes over the reference SHCreateMemStream returns (mingw-w64's
    // ComPtr::Attach would add one of its own).
    *stream.ReleaseAndGetAddressOf() = SHCreateMemStream(buffer.data(), length);
    return stream ? S_OK : E_OUTOFMEMORY;
}

} // namespace

HRESULT MeasureInitializeInMemory(IClassFactory* handlerClass, const CorpusFile& file, std::vector<BYTE>& buffer,
                                  double& micros)
{
    ComPtr<IStream> stream;
    HRESULT hr = MetadataInMemory(file, buffer, stream);
    ComPtr<IPropertyStore> store;
    if (SUCCEEDED(hr)) {
        hr = handlerClass->CreateInstance(nullptr, IID_IPropertyStore, &store);
    }
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<IInitializeWithStream> initialize = As<IInitializeWithStream>(store);
    const Stopwatch clock;
    hr = initialize ? initialize->Initialize(stream.Get(), STGM_READ) : E_NOINTERFACE;
    micros = clock.Micros();
    return hr;
}

HRESULT MeasureChainReadInMemory(const CorpusFile& file, std::vector<BYTE>& buffer, double& micros)
{
    ComPtr<IStream> stream;
    HRESULT hr = MetadataInMemory(file, buffer, stream);
    if (FAILED(hr)) {
        return hr;
    }
    FLAC__Metadata_Chain* chain = FLAC__metadata_chain_new();
    if (chain == nullptr) {
        return E_OUTOFMEMORY;
    }
    // The handler's first steps and nothing after them: the size, then
    // libFLAC's read through the same stream layer. Deleting the chain is
    // not timed, as the handler's Initialize does not delete it either.
    const Stopwatch clock;
    const LARGE_INTEGER zero{};
    ULARGE_INTEGER size{};
    hr = stream->Seek(zero, STREAM_SEEK_END, &size);
    if (SUCCEEDED(hr)) {
        BufferedStream io(stream.Get(), BufferedStream::kMetadataBlock);
        io.StartWith(BufferedStream::kFirstMetadataBlock);
        io.KnowSize(size.QuadPart);
        io.KnowStreamPosition(size.QuadPart);
        hr = FLAC__metadata_chain_read_with_callbacks(chain, io.Handle(), BufferedIOCallbacks) ? S_OK : E_FAIL;
    }
    micros = clock.Micros();
    FLAC__metadata_chain_delete(chain);
    return hr;
}
