#include "flacio/buffered_stream.h"

#include "flacio/stream_io.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

BufferedStream& AsBuffered(FLAC__IOHandle handle) noexcept
{
    return *static_cast<BufferedStream*>(handle);
}

} // namespace

const FLAC__IOCallbacks BufferedIOCallbacks = {
    [](void* ptr, size_t size, size_t nmemb, FLAC__IOHandle handle) {
        return AsBuffered(handle).Read(ptr, size, nmemb);
    },
    [](const void* ptr, size_t size, size_t nmemb, FLAC__IOHandle handle) {
        return AsBuffered(handle).Write(ptr, size, nmemb);
    },
    [](FLAC__IOHandle handle, FLAC__int64 offset, int whence) { return AsBuffered(handle).Seek(offset, whence); },
    [](FLAC__IOHandle handle) { return AsBuffered(handle).Tell(); },
    [](FLAC__IOHandle handle) { return AsBuffered(handle).Eof(); },
    nullptr,
};

BufferedStream::BufferedStream(IStream* stream, ULONG readAhead, ULONG gatherLimit) noexcept
    : m_stream(stream), m_readAhead(readAhead), m_gatherLimit(gatherLimit)
{
}

void BufferedStream::KnowSize(ULONGLONG size) noexcept
{
    m_size = size;
    m_sizeKnown = true;
}

void BufferedStream::KnowStreamPosition(ULONGLONG position) noexcept
{
    m_streamPosition = position;
    m_streamPositionKnown = true;
}

bool BufferedStream::MoveStreamTo(ULONGLONG position) noexcept
{
    if (m_streamPositionKnown && m_streamPosition == position) {
        return true;
    }
    LARGE_INTEGER move;
    move.QuadPart = static_cast<LONGLONG>(position);
    m_streamPositionKnown = SUCCEEDED(m_stream->Seek(move, STREAM_SEEK_SET, nullptr));
    m_streamPosition = position;
    return m_streamPositionKnown;
}

bool BufferedStream::ReadStream(std::uint8_t* buffer, ULONG count, ULONG& read) noexcept
{
    read = 0;
    if (!MoveStreamTo(m_position)) {
        return false;
    }
    if (FAILED(m_stream->Read(buffer, count, &read))) {
        // Some streams fail (E_PENDING) and still report a count: nothing
        // that a failed call says it transferred is taken.
        read = 0;
        m_streamPositionKnown = false;
        return false;
    }
    read = std::min(read, count);
    m_streamPosition += read;
    return true;
}

bool BufferedStream::WriteStream(const std::uint8_t* buffer, ULONG count) noexcept
{
    m_wroteToStream = true;
    ULONG written = 0;
    if (FAILED(m_stream->Write(buffer, count, &written)) || written != count) {
        m_streamPositionKnown = false;
        return false;
    }
    m_streamPosition += count;
    return true;
}

bool BufferedStream::InReadBuffer(ULONGLONG position) const noexcept
{
    return position >= m_readStart && position - m_readStart < m_readBuffer.size();
}

bool BufferedStream::FillReadBuffer(ULONG& read) noexcept
{
    const ULONG size = m_firstReadAhead != 0 ? m_firstReadAhead : m_readAhead;
    m_firstReadAhead = 0;
    try {
        m_readBuffer.resize(size);
    } catch (const std::bad_alloc&) {
        m_readBuffer.clear();
        return false;
    }
    m_readStart = m_position;
    const bool ok = ReadStream(m_readBuffer.data(), size, read);
    m_readBuffer.resize(ok ? read : 0);
    return ok;
}

ULONG BufferedStream::ReadAheadOf(ULONG wanted) const noexcept
{
    if (!InReadBuffer(m_position)) {
        return 0;
    }
    return static_cast<ULONG>(std::min<ULONGLONG>(wanted, m_readBuffer.size() - (m_position - m_readStart)));
}

ULONG BufferedStream::ReadIntoCallerBuffer(std::uint8_t* buffer, ULONG wanted) noexcept
{
    // The call starts after the bytes read ahead and asks for the whole
    // length of the caller's buffer, so that as many bytes as were read ahead
    // come from beyond the request: they become the read-ahead of what
    // follows it (libFLAC reads the next block's header right after a
    // picture), and the call count stays that of a read through the buffer.
    // The request's own bytes then move up into place, and the ones read
    // ahead before go in front of them.
    const ULONG held = ReadAheadOf(wanted);
    const ULONGLONG start = m_position;
    // A stream may return fewer bytes than asked before its end (network
    // redirectors do): it is asked again until the request's own bytes are
    // in, it has no more, or a call fails.
    ULONG read = 0;
    while (read < wanted - held) {
        m_position = start + held + read;
        ULONG got = 0;
        if (!ReadStream(buffer + read, wanted - read, got) || got == 0) {
            break;
        }
        read += got;
    }
    const ULONG own = std::min(read, wanted - held);
    ReadAheadBytes following;
    try {
        following.assign(buffer + own, buffer + read);
    } catch (const std::bad_alloc&) {
        // Only read-ahead is lost: the next read asks the stream again.
        following.clear();
    }
    std::memmove(buffer + held, buffer, own);
    if (held != 0) {
        std::memcpy(buffer, m_readBuffer.data() + (start - m_readStart), held);
    }
    m_position = start + held + own;
    m_readBuffer.swap(following);
    m_readStart = m_position;
    return held + own;
}

size_t BufferedStream::Read(void* buffer, size_t size, size_t count) noexcept
{
    ULONG wanted = 0;
    if (!ByteCount(size, count, wanted) || !Flush()) {
        return 0;
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    if (wanted - ReadAheadOf(wanted) > m_readAhead) {
        // A picture: never held twice. When the call fails, what was read
        // ahead is delivered, and the next read reports the failure.
        return WholeElements(ReadIntoCallerBuffer(out, wanted), size);
    }
    ULONG done = 0;
    while (done < wanted) {
        if (InReadBuffer(m_position)) {
            const ULONGLONG offset = m_position - m_readStart;
            const ULONG n = static_cast<ULONG>(std::min<ULONGLONG>(wanted - done, m_readBuffer.size() - offset));
            std::memcpy(out + done, m_readBuffer.data() + offset, n);
            done += n;
            m_position += n;
            continue;
        }
        ULONG read = 0;
        if (!FillReadBuffer(read) || read == 0) {
            // The end, or a refill that failed: what was handed over is
            // delivered (the position is past it), and the next read reports
            // the failure. A failed refill never loops.
            break;
        }
    }
    return WholeElements(done, size);
}

size_t BufferedStream::Write(const void* buffer, size_t size, size_t count) noexcept
{
    ULONG length = 0;
    if (!ByteCount(size, count, length) || length == 0) {
        return 0;
    }
    // What was read ahead may be overwritten now.
    m_readBuffer.clear();
    const bool contiguous = m_position == m_writeStart + m_writeBuffer.size();
    if ((!contiguous || m_writeBuffer.size() + ULONGLONG{length} > m_gatherLimit) && !Flush()) {
        return 0;
    }
    const auto* const bytes = static_cast<const std::uint8_t*>(buffer);
    if (length >= m_gatherLimit) {
        if (!MoveStreamTo(m_position) || !WriteStream(bytes, length)) {
            return 0;
        }
    } else {
        try {
            if (m_writeBuffer.empty()) {
                m_writeStart = m_position;
                m_writeBuffer.reserve(std::min(m_gatherLimit, kLargeBlock));
            }
            m_writeBuffer.insert(m_writeBuffer.end(), bytes, bytes + length);
        } catch (const std::bad_alloc&) {
            return 0;
        }
    }
    m_position += length;
    if (m_sizeKnown) {
        m_size = std::max(m_size, m_position);
    }
    return count;
}

bool BufferedStream::Flush() noexcept
{
    if (m_writeBuffer.empty()) {
        return true;
    }
    const bool ok =
        MoveStreamTo(m_writeStart) && WriteStream(m_writeBuffer.data(), static_cast<ULONG>(m_writeBuffer.size()));
    m_writeBuffer.clear();
    return ok;
}

void BufferedStream::Discard() noexcept
{
    m_writeBuffer.clear();
}

int BufferedStream::Seek(FLAC__int64 offset, int whence) noexcept
{
    LONGLONG base = 0;
    switch (whence) {
    case SEEK_SET:
        break;
    case SEEK_CUR:
        base = static_cast<LONGLONG>(m_position);
        break;
    case SEEK_END:
        if (!LearnSize()) {
            return -1;
        }
        base = static_cast<LONGLONG>(m_size);
        break;
    default:
        return -1;
    }
    const LONGLONG target = base + offset;
    if (target < 0) {
        return -1;
    }
    // Gathered writes go out before the position moves elsewhere.
    if (static_cast<ULONGLONG>(target) != m_writeStart + m_writeBuffer.size() && !Flush()) {
        return -1;
    }
    m_position = static_cast<ULONGLONG>(target);
    return 0;
}

FLAC__int64 BufferedStream::Tell() const noexcept
{
    return static_cast<FLAC__int64>(m_position);
}

bool BufferedStream::LearnSize() noexcept
{
    if (m_sizeKnown) {
        return true;
    }
    LARGE_INTEGER zero{};
    ULARGE_INTEGER end{};
    if (FAILED(m_stream->Seek(zero, STREAM_SEEK_END, &end))) {
        m_streamPositionKnown = false;
        return false;
    }
    KnowStreamPosition(end.QuadPart);
    KnowSize(std::max<ULONGLONG>(end.QuadPart, m_writeStart + m_writeBuffer.size()));
    return true;
}

int BufferedStream::Eof() noexcept
{
    return LearnSize() && m_position >= m_size ? 1 : 0;
}
