// libFLAC reads and writes metadata only through these callbacks, over the
// IStream that the shell hands in (passed as the FLAC__IOHandle).
#pragma once

#include "platform/platform.h"

#include <FLAC/metadata.h>

// Byte count of size x nmemb, or false when it does not fit a ULONG.
bool ByteCount(size_t size, size_t nmemb, ULONG& bytes) noexcept;
// How many whole elements of `size` bytes `transferred` bytes make; 0 for
// elements of size 0.
size_t WholeElements(ULONG transferred, size_t size) noexcept;

size_t StreamRead(void* ptr, size_t size, size_t nmemb, FLAC__IOHandle handle);
size_t StreamWrite(const void* ptr, size_t size, size_t nmemb, FLAC__IOHandle handle);
int StreamSeek(FLAC__IOHandle handle, FLAC__int64 offset, int whence);
FLAC__int64 StreamTell(FLAC__IOHandle handle);
int StreamEof(FLAC__IOHandle handle);

// The callback record for an IStream handle; there is no close callback, so
// libFLAC never ends the stream's life.
inline constexpr FLAC__IOCallbacks StreamIOCallbacks = {
    StreamRead, StreamWrite, StreamSeek, StreamTell, StreamEof, nullptr,
};

inline FLAC__IOHandle AsIOHandle(IStream* stream) noexcept
{
    return static_cast<FLAC__IOHandle>(stream);
}

// Result code of a failed chain operation.
HRESULT ChainStatusToHResult(FLAC__Metadata_ChainStatus status) noexcept;

// Takes the chain's status (which also resets it) and maps it.
inline HRESULT TakeChainStatus(FLAC__Metadata_Chain* chain) noexcept
{
    return ChainStatusToHResult(FLAC__metadata_chain_status(chain));
}
