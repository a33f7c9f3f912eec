#include "flacio/stream_io.h"

#include <algorithm>
#include <cstdio>

namespace {

IStream* AsStream(FLAC__IOHandle handle) noexcept
{
    return static_cast<IStream*>(handle);
}

bool SeekTo(IStream* stream, LONGLONG offset, DWORD origin, ULONGLONG* position) noexcept
{
    LARGE_INTEGER move;
    move.QuadPart = offset;
    ULARGE_INTEGER newPosition{};
    if (FAILED(stream->Seek(move, origin, position != nullptr ? &newPosition : nullptr))) {
        return false;
    }
    if (position != nullptr) {
        *position = newPosition.QuadPart;
    }
    return true;
}

} // namespace

bool ByteCount(size_t size, size_t nmemb, ULONG& bytes) noexcept
{
    // Divided rather than multiplied: size_t is 32 bits on x86, where the
    // product itself would wrap.
    if (nmemb != 0 && size > 0xFFFFFFFFU / nmemb) {
        return false;
    }
    bytes = static_cast<ULONG>(size * nmemb);
    return true;
}

size_t WholeElements(ULONG transferred, size_t size) noexcept
{
    return size == 0 ? 0 : transferred / size;
}

namespace {

// What a stream reports having transferred, never more than was asked.
size_t WholeElementsOf(ULONG transferred, ULONG asked, size_t size) noexcept
{
    return WholeElements(std::min(transferred, asked), size);
}

} // namespace

size_t StreamRead(void* ptr, size_t size, size_t nmemb, FLAC__IOHandle handle)
{
    ULONG count = 0;
    if (!ByteCount(size, nmemb, count)) {
        return 0;
    }
    ULONG transferred = 0;
    if (FAILED(AsStream(handle)->Read(ptr, count, &transferred))) {
        return 0;
    }
    return WholeElementsOf(transferred, count, size);
}

size_t StreamWrite(const void* ptr, size_t size, size_t nmemb, FLAC__IOHandle handle)
{
    ULONG count = 0;
    if (!ByteCount(size, nmemb, count)) {
        return 0;
    }
    ULONG transferred = 0;
    if (FAILED(AsStream(handle)->Write(ptr, count, &transferred))) {
        return 0;
    }
    return WholeElementsOf(transferred, count, size);
}

int StreamSeek(FLAC__IOHandle handle, FLAC__int64 offset, int whence)
{
    DWORD origin = STREAM_SEEK_SET;
    switch (whence) {
    case SEEK_SET:
        origin = STREAM_SEEK_SET;
        break;
    case SEEK_CUR:
        origin = STREAM_SEEK_CUR;
        break;
    case SEEK_END:
        origin = STREAM_SEEK_END;
        break;
    default:
        return -1;
    }
    return SeekTo(AsStream(handle), offset, origin, nullptr) ? 0 : -1;
}

FLAC__int64 StreamTell(FLAC__IOHandle handle)
{
    ULONGLONG position = 0;
    if (!SeekTo(AsStream(handle), 0, STREAM_SEEK_CUR, &position)) {
        return -1;
    }
    return static_cast<FLAC__int64>(position);
}

int StreamEof(FLAC__IOHandle handle)
{
    IStream* stream = AsStream(handle);
    ULONGLONG current = 0;
    ULONGLONG end = 0;
    if (!SeekTo(stream, 0, STREAM_SEEK_CUR, &current) || !SeekTo(stream, 0, STREAM_SEEK_END, &end) ||
        !SeekTo(stream, static_cast<LONGLONG>(current), STREAM_SEEK_SET, nullptr)) {
        return 0;
    }
    return current == end ? 1 : 0;
}

HRESULT ChainStatusToHResult(FLAC__Metadata_ChainStatus status) noexcept
{
    switch (status) {
    case FLAC__METADATA_CHAIN_STATUS_OK:
        return S_OK;
    case FLAC__METADATA_CHAIN_STATUS_ILLEGAL_INPUT:
        return E_INVALIDARG;
    case FLAC__METADATA_CHAIN_STATUS_ERROR_OPENING_FILE:
    case FLAC__METADATA_CHAIN_STATUS_NOT_WRITABLE:
        return E_ACCESSDENIED;
    case FLAC__METADATA_CHAIN_STATUS_NOT_A_FLAC_FILE:
    case FLAC__METADATA_CHAIN_STATUS_BAD_METADATA:
    case FLAC__METADATA_CHAIN_STATUS_READ_ERROR:
    case FLAC__METADATA_CHAIN_STATUS_SEEK_ERROR:
    case FLAC__METADATA_CHAIN_STATUS_WRITE_ERROR:
    case FLAC__METADATA_CHAIN_STATUS_RENAME_ERROR:
    case FLAC__METADATA_CHAIN_STATUS_UNLINK_ERROR:
    case FLAC__METADATA_CHAIN_STATUS_READ_WRITE_MISMATCH:
    case FLAC__METADATA_CHAIN_STATUS_WRONG_WRITE_CALL:
        return E_FAIL;
    case FLAC__METADATA_CHAIN_STATUS_MEMORY_ALLOCATION_ERROR:
        return E_OUTOFMEMORY;
    case FLAC__METADATA_CHAIN_STATUS_INVALID_CALLBACKS:
        return E_POINTER;
    case FLAC__METADATA_CHAIN_STATUS_INTERNAL_ERROR:
    default:
        return E_UNEXPECTED;
    }
}
