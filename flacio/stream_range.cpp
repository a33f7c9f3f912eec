#include "flacio/stream_range.h"

#include <algorithm>
#include <new>

namespace {

// The largest transfer asked of the stream at once.
constexpr ULONG kMaxCall = 1U << 30;
// The copy's buffer: few calls, little memory.
constexpr ULONG kCopyBlock = 1U << 20;

HRESULT SeekSet(IStream* stream, ULONGLONG offset) noexcept
{
    LARGE_INTEGER move;
    move.QuadPart = static_cast<LONGLONG>(offset);
    return stream->Seek(move, STREAM_SEEK_SET, nullptr);
}

HRESULT WriteAll(IStream* stream, const std::uint8_t* data, ULONGLONG length) noexcept
{
    while (length != 0) {
        const ULONG count = static_cast<ULONG>(std::min<ULONGLONG>(length, kMaxCall));
        ULONG written = 0;
        const HRESULT hr = stream->Write(data, count, &written);
        if (FAILED(hr)) {
            return hr;
        }
        if (written != count) {
            return STG_E_MEDIUMFULL;
        }
        data += count;
        length -= count;
    }
    return S_OK;
}

} // namespace

HRESULT ReadRange(IStream* stream, ULONGLONG offset, ULONGLONG length, std::vector<std::uint8_t>& bytes)
{
    // On x86 a length past 4 GB (a stream of many large padding blocks)
    // does not fit a size_t: resizing to it would keep only its low bits.
    if (length > bytes.max_size()) {
        return E_OUTOFMEMORY;
    }
    try {
        bytes.resize(static_cast<std::size_t>(length));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    HRESULT hr = SeekSet(stream, offset);
    for (ULONGLONG done = 0; SUCCEEDED(hr) && done < length;) {
        const ULONG count = static_cast<ULONG>(std::min<ULONGLONG>(length - done, kMaxCall));
        ULONG read = 0;
        hr = stream->Read(bytes.data() + done, count, &read);
        if (SUCCEEDED(hr) && read == 0) {
            hr = E_FAIL;
        }
        done += std::min(read, count);
    }
    return FAILED(hr) ? hr : S_OK;
}

HRESULT WriteRange(IStream* stream, ULONGLONG offset, const std::vector<std::uint8_t>& bytes) noexcept
{
    const HRESULT hr = SeekSet(stream, offset);
    return FAILED(hr) ? hr : WriteAll(stream, bytes.data(), bytes.size());
}

HRESULT CopyWholeStream(IStream* source, IStream* destination)
{
    std::vector<std::uint8_t> buffer(kCopyBlock);
    HRESULT hr = SeekSet(source, 0);
    if (SUCCEEDED(hr)) {
        hr = SeekSet(destination, 0);
    }
    while (SUCCEEDED(hr)) {
        ULONG read = 0;
        hr = source->Read(buffer.data(), kCopyBlock, &read);
        if (FAILED(hr) || read == 0) {
            break;
        }
        // A stream that reports more than was asked must not make the copy
        // write from past the end of the buffer.
        hr = WriteAll(destination, buffer.data(), std::min(read, kCopyBlock));
    }
    return FAILED(hr) ? hr : S_OK;
}
