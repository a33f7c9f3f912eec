#include "tests/support/memory_stream.h"

#include <algorithm>
#include <cstring>
#include <utility>

MemoryStream::MemoryStream(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {}

ComPtr<MemoryStream> MemoryStream::Create(std::vector<std::uint8_t> bytes)
{
    return ComPtr<MemoryStream>(new MemoryStream(std::move(bytes)));
}

int MemoryStream::Calls(StreamCall kind) const
{
    const auto found = m_calls.find(kind);
    return found == m_calls.end() ? 0 : found->second;
}

int MemoryStream::TotalCalls() const
{
    int total = 0;
    for (const auto& [kind, count] : m_calls) {
        total += count;
    }
    return total;
}

void MemoryStream::FailCall(StreamCall kind, int nth, HRESULT hr)
{
    m_failures.insert({kind, {Calls(kind) + nth, hr}});
}

void MemoryStream::FailReadsReporting(int times, ULONG reported, HRESULT hr)
{
    m_failingReads = times;
    m_failingReadCount = reported;
    m_failingReadResult = hr;
}

void MemoryStream::ClearFailures()
{
    m_failures.clear();
    m_failingReads = 0;
    m_failingKinds.clear();
    m_destinationFailures.clear();
    m_writeRoom.reset();
}

void MemoryStream::FailDestinationCall(StreamCall kind, int nth, HRESULT hr)
{
    m_destinationFailures[kind] = {nth, hr};
}

int MemoryStream::DestinationCalls(StreamCall kind) const
{
    if (m_destination) {
        return m_destination->Calls(kind);
    }
    const auto found = m_lastDestinationCalls.find(kind);
    return found == m_lastDestinationCalls.end() ? 0 : found->second;
}

bool MemoryStream::ShouldFail(StreamCall kind, HRESULT& hr)
{
    const int count = ++m_calls[kind];
    const auto [first, last] = m_failures.equal_range(kind);
    for (auto planned = first; planned != last; ++planned) {
        if (planned->second.first == count) {
            hr = planned->second.second;
            return true;
        }
    }
    const auto failing = m_failingKinds.find(kind);
    if (failing != m_failingKinds.end()) {
        hr = failing->second;
        return true;
    }
    return false;
}

bool MemoryStream::Offers(REFIID iid) const noexcept
{
    return m_safeSave || !IsEqualIID(iid, IID_IDestinationStreamFactory);
}

STDMETHODIMP MemoryStream::Read(void* buffer, ULONG count, ULONG* read)
{
    HRESULT hr = S_OK;
    if (read != nullptr) {
        *read = 0;
    }
    m_lastReadBuffer = buffer;
    m_lastReadCount = count;
    if (ShouldFail(StreamCall::Read, hr)) {
        return hr;
    }
    if (m_failingReads > 0) {
        --m_failingReads;
        if (read != nullptr) {
            *read = m_failingReadCount;
        }
        return m_failingReadResult;
    }
    const ULONGLONG available = m_position < m_bytes.size() ? m_bytes.size() - m_position : 0;
    ULONG n = static_cast<ULONG>(std::min<ULONGLONG>(available, count));
    if (m_readChunk != 0) {
        n = std::min(n, m_readChunk);
    }
    if (n != 0) {
        std::memcpy(buffer, m_bytes.data() + m_position, n);
    }
    m_position += n;
    if (read != nullptr) {
        *read = n + std::exchange(m_overreport, 0);
    }
    return n == count ? S_OK : S_FALSE;
}

STDMETHODIMP MemoryStream::Write(const void* buffer, ULONG count, ULONG* written)
{
    HRESULT hr = S_OK;
    if (written != nullptr) {
        *written = 0;
    }
    if (ShouldFail(StreamCall::Write, hr)) {
        return hr;
    }
    if (m_readOnly) {
        return STG_E_ACCESSDENIED;
    }
    // On a full disk what fits lands, and the write fails.
    const ULONG landing = m_writeRoom ? static_cast<ULONG>(std::min<ULONGLONG>(count, *m_writeRoom)) : count;
    if (m_writeRoom) {
        *m_writeRoom -= landing;
    }
    if (m_position + landing > m_bytes.size()) {
        m_bytes.resize(m_position + landing);
    }
    if (landing != 0) {
        std::memcpy(m_bytes.data() + m_position, buffer, landing);
        const auto* const bytes = static_cast<const std::uint8_t*>(buffer);
        m_log.push_back({StreamCall::Write, m_position, std::vector<std::uint8_t>(bytes, bytes + landing)});
    }
    m_position += landing;
    if (written != nullptr) {
        *written = landing;
    }
    return landing == count ? S_OK : STG_E_MEDIUMFULL;
}

STDMETHODIMP MemoryStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position)
{
    HRESULT hr = S_OK;
    if (ShouldFail(StreamCall::Seek, hr)) {
        return hr;
    }
    LONGLONG base = 0;
    switch (origin) {
    case STREAM_SEEK_SET:
        base = 0;
        break;
    case STREAM_SEEK_CUR:
        base = static_cast<LONGLONG>(m_position);
        break;
    case STREAM_SEEK_END:
        base = static_cast<LONGLONG>(m_bytes.size());
        break;
    default:
        return STG_E_INVALIDFUNCTION;
    }
    const LONGLONG target = base + move.QuadPart;
    if (target < 0) {
        return STG_E_INVALIDFUNCTION;
    }
    m_position = static_cast<ULONGLONG>(target);
    if (position != nullptr) {
        position->QuadPart = m_position;
    }
    return S_OK;
}

STDMETHODIMP MemoryStream::SetSize(ULARGE_INTEGER size)
{
    HRESULT hr = S_OK;
    if (ShouldFail(StreamCall::SetSize, hr)) {
        return hr;
    }
    m_bytes.resize(size.QuadPart);
    return S_OK;
}

STDMETHODIMP MemoryStream::Commit(DWORD)
{
    HRESULT hr = S_OK;
    if (ShouldFail(StreamCall::Commit, hr)) {
        return hr;
    }
    if (m_destination) {
        m_bytes = m_destination->Bytes();
        m_position = 0;
        m_lastDestinationCalls = m_destination->m_calls;
        m_destination.Reset();
    }
    m_log.push_back({StreamCall::Commit, 0, {}});
    return std::exchange(m_commitFailureAfterReplacing, S_OK);
}

STDMETHODIMP MemoryStream::Revert()
{
    HRESULT hr = S_OK;
    if (ShouldFail(StreamCall::Revert, hr)) {
        return hr;
    }
    if (m_destination) {
        m_lastDestinationCalls = m_destination->m_calls;
        m_destination.Reset();
    }
    return S_OK;
}

STDMETHODIMP MemoryStream::GetDestinationStream(IStream** destination)
{
    HRESULT hr = S_OK;
    if (destination == nullptr) {
        return E_POINTER;
    }
    *destination = nullptr;
    if (ShouldFail(StreamCall::GetDestination, hr)) {
        return hr;
    }
    m_destination = Create();
    for (const auto& [kind, failure] : m_destinationFailures) {
        m_destination->FailCall(kind, failure.first, failure.second);
    }
    m_destinationFailures.clear();
    return m_destination.CopyTo(destination);
}

STDMETHODIMP MemoryStream::Stat(STATSTG* stat, DWORD)
{
    HRESULT hr = S_OK;
    if (ShouldFail(StreamCall::Stat, hr)) {
        return hr;
    }
    if (stat == nullptr) {
        return STG_E_INVALIDPOINTER;
    }
    std::memset(stat, 0, sizeof(*stat));
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = m_bytes.size();
    return S_OK;
}
