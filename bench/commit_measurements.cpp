#include "bench/measurements.h"
#include "resources/identifiers.h"
#include "tests/support/com_helpers.h"
#include "tools/safe_save/safe_save_stream.h"

namespace {

// A handler initialised with `stream`, ready for SetValue and Commit.
HRESULT OpenStore(const ClassSource& source, IStream* stream, ComPtr<IPropertyStore>& store)
{
    HRESULT hr = source.Create(CLSID_PropertyHandler, IID_IPropertyStore, &store);
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<IInitializeWithStream> initialize = As<IInitializeWithStream>(store);
    return initialize ? initialize->Initialize(stream, STGM_READWRITE) : E_NOINTERFACE;
}

HRESULT SetText(IPropertyStore* store, REFPROPERTYKEY key, const std::wstring& text)
{
    PROPVARIANT value;
    value.vt = VT_LPWSTR;
    value.pwszVal = const_cast<PWSTR>(text.c_str());
    return store->SetValue(key, value);
}

// A fresh copy of the file at `scratch`, opened behind the safe-save stream
// that the rewrite writes through, counted (and slowed) on both sides.
HRESULT OpenSafeSave(const CorpusFile& file, const std::wstring& scratch, StreamCounts& sourceCounts,
                     StreamCounts& destinationCounts, double delayMicros, ComPtr<IStream>& stream)
{
    if (!CopyFileW(file.path.c_str(), scratch.c_str(), FALSE)) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    ComPtr<SafeSaveStream> safeSave;
    const HRESULT hr = SafeSaveStream::Open(scratch, &safeSave);
    if (FAILED(hr)) {
        return hr;
    }
    stream = CountingStream::Create(safeSave.Get(), sourceCounts, &destinationCounts, delayMicros);
    return stream ? S_OK : E_OUTOFMEMORY;
}

} // namespace

HRESULT MeasureInPlaceCommit(const ClassSource& source, const CorpusFile& file, const std::wstring& scratch,
                             double& micros, StreamCounts& counts)
{
    if (!CopyFileW(file.path.c_str(), scratch.c_str(), FALSE)) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    ComPtr<IStream> fileStream;
    HRESULT hr = OpenFileStream(scratch, STGM_READWRITE | STGM_SHARE_DENY_WRITE, FALSE, &fileStream);
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<IStream> stream = CountingStream::Create(fileStream.Get(), counts);
    ComPtr<IPropertyStore> store;
    hr = OpenStore(source, stream.Get(), store);
    if (SUCCEEDED(hr)) {
        hr = SetText(store.Get(), PKEY_Title, L"A title changed in place");
    }
    if (FAILED(hr)) {
        return hr;
    }
    counts = StreamCounts();
    const Stopwatch clock;
    hr = store->Commit();
    micros = clock.Micros();
    return hr;
}

HRESULT MeasureRewriteCommit(const ClassSource& source, const CorpusFile& file, const std::wstring& scratch,
                             double& micros, StreamCounts& sourceCounts, StreamCounts& destinationCounts,
                             double delayMicros)
{
    ComPtr<IStream> stream;
    HRESULT hr = OpenSafeSave(file, scratch, sourceCounts, destinationCounts, delayMicros, stream);
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<IPropertyStore> store;
    hr = OpenStore(source, stream.Get(), store);
    if (SUCCEEDED(hr)) {
        // Well beyond the 8 KB of padding the encoder leaves.
        hr = SetText(store.Get(), PKEY_Comment, std::wstring(16 * 1024, L'x'));
    }
    if (FAILED(hr)) {
        return hr;
    }
    sourceCounts = StreamCounts();
    destinationCounts = StreamCounts();
    const Stopwatch clock;
    hr = store->Commit();
    micros = clock.Micros();
    if (SUCCEEDED(hr) && destinationCounts.bytesWritten < file.size) {
        hr = E_UNEXPECTED; // not a rewrite after all
    }
    return hr;
}

HRESULT MeasureCopy(const CorpusFile& file, const std::wstring& scratch, std::vector<BYTE>& buffer, double& micros,
                    StreamCounts& sourceCounts, StreamCounts& destinationCounts, double delayMicros)
{
    ComPtr<IStream> stream;
    HRESULT hr = OpenSafeSave(file, scratch, sourceCounts, destinationCounts, delayMicros, stream);
    if (FAILED(hr)) {
        return hr;
    }
    const Stopwatch clock;
    ComPtr<IStream> destination;
    ComPtr<IDestinationStreamFactory> factory = As<IDestinationStreamFactory>(stream);
    hr = factory ? factory->GetDestinationStream(&destination) : E_NOINTERFACE;
    ULONGLONG copied = 0;
    while (SUCCEEDED(hr)) {
        ULONG read = 0;
        hr = stream->Read(buffer.data(), static_cast<ULONG>(buffer.size()), &read);
        if (FAILED(hr) || read == 0) {
            break;
        }
        ULONG written = 0;
        hr = destination->Write(buffer.data(), read, &written);
        if (SUCCEEDED(hr) && written != read) {
            hr = E_FAIL;
        }
        copied += written;
    }
    // As the handler does: the copy is let go of before the Commit that puts
    // it in the file's place.
    destination.Reset();
    factory.Reset();
    if (SUCCEEDED(hr)) {
        hr = stream->Commit(STGC_DEFAULT);
    }
    micros = clock.Micros();
    stream.Reset();
    return FAILED(hr) ? hr : copied == file.size ? S_OK : E_FAIL;
}
