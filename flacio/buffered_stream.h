// A buffered view of an IStream for libFLAC's callbacks. Every stream call is
// a round trip on a network share, and libFLAC reads and writes a field at a
// time; this layer reads ahead in large blocks, gathers contiguous writes into
// large ones, and answers tell and end-of-stream from the position and size it
// keeps. A read larger than the read-ahead (a picture) goes straight into the
// caller's buffer, so that it is never held twice. A failing stream call fails
// the callback it happens in, as it would without the layer, and counts as 0
// bytes whatever count it reported.
#pragma once

#include "platform/platform.h"

#include <FLAC/metadata.h>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

// Bytes that a resize leaves as they are: a read-ahead buffer is filled by the
// stream, so zeroing it first is wasted work.
template <class T> struct UninitialisedAllocator : std::allocator<T> {
    template <class U> struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() noexcept = default;
    template <class U> UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    template <class U> void construct(U* p) noexcept { ::new (static_cast<void*>(p)) U; }
    template <class U, class... Args> void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
using ReadAheadBytes = std::vector<std::uint8_t, UninitialisedAllocator<std::uint8_t>>;

class BufferedStream {
public:
    // Read-ahead while metadata is read, and while audio is copied; writes
    // are gathered into blocks of up to kLargeBlock while copying, and
    // without a bound when metadata is overwritten in place (one write).
    static constexpr ULONG kMetadataBlock = 64 * 1024;
    // The first read-ahead of a metadata read: a typical file's blocks (up to
    // the padding, which libFLAC seeks over) take well under 8 KB, and one
    // call of this size costs less than one of kMetadataBlock; the refills
    // after it, for larger metadata, take kMetadataBlock.
    static constexpr ULONG kFirstMetadataBlock = 8 * 1024;
    static constexpr ULONG kLargeBlock = 1024 * 1024;
    static constexpr ULONG kWholeWrite = 0xFFFFFFFFU;

    // `stream` stays the caller's and must outlive this object. Pending
    // writes must be flushed before it goes.
    BufferedStream(IStream* stream, ULONG readAhead, ULONG gatherLimit = kLargeBlock) noexcept;
    BufferedStream(const BufferedStream&) = delete;
    BufferedStream& operator=(const BufferedStream&) = delete;
    ~BufferedStream() = default;

    // What the caller already knows from a call of its own: the stream's size,
    // and where the stream itself stands.
    void KnowSize(ULONGLONG size) noexcept;
    void KnowStreamPosition(ULONGLONG position) noexcept;
    // Makes the first read-ahead `bytes` long; the later ones keep the size
    // the stream was made with.
    void StartWith(ULONG bytes) noexcept { m_firstReadAhead = bytes; }

    FLAC__IOHandle Handle() noexcept { return this; }

    // libFLAC's callback contract: whole elements transferred, 0 on failure;
    // Seek returns 0 on success, Tell -1 on failure, Eof nonzero at the end.
    size_t Read(void* buffer, size_t size, size_t count) noexcept;
    size_t Write(const void* buffer, size_t size, size_t count) noexcept;
    int Seek(FLAC__int64 offset, int whence) noexcept;
    FLAC__int64 Tell() const noexcept;
    int Eof() noexcept;

    // Sends the gathered writes to the stream; false when a call failed (the
    // gathered bytes are then dropped).
    bool Flush() noexcept;
    // Drops the gathered writes unsent: what a failed write had gathered.
    void Discard() noexcept;
    // Whether any write reached the stream (or was attempted and failed, and
    // may have changed part of it).
    bool WroteToStream() const noexcept { return m_wroteToStream; }
    // The writes gathered and not yet sent, and where they go: for a caller
    // that sends only part of them itself (then Discard).
    const std::vector<std::uint8_t>& Gathered() const noexcept { return m_writeBuffer; }
    ULONGLONG GatheredStart() const noexcept { return m_writeStart; }

private:
    bool MoveStreamTo(ULONGLONG position) noexcept;
    // Reads from the position; `read` is 0 when the call failed.
    bool ReadStream(std::uint8_t* buffer, ULONG count, ULONG& read) noexcept;
    bool WriteStream(const std::uint8_t* buffer, ULONG count) noexcept;
    // Reads a block ahead from the position.
    bool FillReadBuffer(ULONG& read) noexcept;
    bool InReadBuffer(ULONGLONG position) const noexcept;
    // How many of the `wanted` bytes from the position were read ahead.
    ULONG ReadAheadOf(ULONG wanted) const noexcept;
    // A read that reaches beyond the read-ahead: the stream fills the
    // caller's buffer (in one call, unless it returns short), and the bytes
    // that were read ahead are copied in last. Returns the bytes delivered.
    ULONG ReadIntoCallerBuffer(std::uint8_t* buffer, ULONG wanted) noexcept;
    // Asks the stream its size once, when no one told it.
    bool LearnSize() noexcept;

    IStream* m_stream;
    ULONG m_readAhead;
    // The size of the next read-ahead when it is the first; 0 once one was made.
    ULONG m_firstReadAhead = 0;
    ULONG m_gatherLimit;
    // Where the next transfer starts.
    ULONGLONG m_position = 0;
    bool m_sizeKnown = false;
    ULONGLONG m_size = 0;
    bool m_streamPositionKnown = false;
    ULONGLONG m_streamPosition = 0;
    // Bytes read ahead, from m_readStart on.
    ReadAheadBytes m_readBuffer;
    ULONGLONG m_readStart = 0;
    // Writes not yet sent, to go to the stream from m_writeStart on.
    std::vector<std::uint8_t> m_writeBuffer;
    ULONGLONG m_writeStart = 0;
    bool m_wroteToStream = false;
};

// The callback record over a BufferedStream handle.
extern const FLAC__IOCallbacks BufferedIOCallbacks;
