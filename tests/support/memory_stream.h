// A scriptable in-memory IStream: inspectable bytes, counted calls, and the
// Nth call of a kind made to fail.
#pragma once

#include "tests/support/com_helpers.h"
#include "tools/common/unknown_object.h"

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

enum class StreamCall { Read, Write, Seek, Commit, SetSize, Stat, GetDestination, Revert };

// With safe save enabled it also offers IDestinationStreamFactory, as the
// property system's streams do: each destination handed out is a new memory
// stream, pending until this stream's Commit puts the last one in place
// (whatever it holds by then) or Revert drops it. Writes to this stream itself
// land at once, as in a file.
class MemoryStream : public UnknownObject<IStream, IDestinationStreamFactory> {
public:
    explicit MemoryStream(std::vector<std::uint8_t> bytes = {});

    // A new stream, held by the ComPtr returned.
    static ComPtr<MemoryStream> Create(std::vector<std::uint8_t> bytes = {});

    std::vector<std::uint8_t>& Bytes() { return m_bytes; }
    ULONGLONG Position() const { return m_position; }
    int Calls(StreamCall kind) const;
    int TotalCalls() const;

    // The `nth` call (1-based) of `kind` from now on fails with `hr`. Each
    // call plans one more failure: several calls of a kind may fail.
    void FailCall(StreamCall kind, int nth, HRESULT hr = STG_E_ACCESSDENIED);
    // Every call of `kind` from now on fails with `hr`.
    void FailEveryCall(StreamCall kind, HRESULT hr) { m_failingKinds[kind] = hr; }
    // Forgets the planned failures that have not happened yet, here and for
    // the next destination, and lifts the write limit.
    void ClearFailures();
    // Every Write fails (a read-only stream).
    void SetReadOnly(bool readOnly) { m_readOnly = readOnly; }
    void EnableSafeSave() { m_safeSave = true; }
    // The destination handed out by the last GetDestinationStream, if any.
    MemoryStream* Destination() const { return m_destination.Get(); }
    // The `nth` call of `kind` on the next destination handed out fails.
    void FailDestinationCall(StreamCall kind, int nth, HRESULT hr = STG_E_ACCESSDENIED);
    // Calls made on the last destination handed out, also once it has been
    // committed into this stream.
    int DestinationCalls(StreamCall kind) const;
    // Reads return at most this many bytes per call.
    void SetReadChunk(ULONG chunk) { m_readChunk = chunk; }
    // The next Read reports `extra` bytes more than it was asked for.
    void OverreportNextRead(ULONG extra) { m_overreport = extra; }
    // The next `times` Reads fail with `hr` and still report `reported`
    // bytes, as some streams do with E_PENDING.
    void FailReadsReporting(int times, ULONG reported, HRESULT hr = E_PENDING);
    // The buffer and count that the last Read was given.
    const void* LastReadBuffer() const { return m_lastReadBuffer; }
    ULONG LastReadCount() const { return m_lastReadCount; }
    // A stream that breaks: writes land until `room` more bytes have been
    // written, and then fail with STG_E_MEDIUMFULL (the write that crosses
    // the limit lands its first bytes); nullopt lifts the limit.
    void LimitWrites(std::optional<ULONGLONG> room) { m_writeRoom = room; }
    // The next Commit puts the pending destination in place and then fails
    // with `hr`, as a rename whose reply was lost does.
    void FailNextCommitAfterReplacing(HRESULT hr) { m_commitFailureAfterReplacing = hr; }

    // What reached this stream's bytes, in order, from StartLog on: each
    // write (where, and the bytes that landed) and each Commit (no bytes).
    struct LoggedCall {
        StreamCall kind;
        ULONGLONG offset = 0;
        std::vector<std::uint8_t> bytes;
    };
    void StartLog() { m_log.clear(); }
    const std::vector<LoggedCall>& Log() const { return m_log; }

    // ISequentialStream
    STDMETHOD(Read)(void* buffer, ULONG count, ULONG* read) override;
    STDMETHOD(Write)(const void* buffer, ULONG count, ULONG* written) override;

    // IStream
    STDMETHOD(Seek)(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override;
    STDMETHOD(SetSize)(ULARGE_INTEGER size) override;
    STDMETHOD(CopyTo)(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHOD(Commit)(DWORD flags) override;
    STDMETHOD(Revert)() override;
    STDMETHOD(LockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    STDMETHOD(UnlockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    STDMETHOD(Stat)(STATSTG* stat, DWORD flags) override;
    STDMETHOD(Clone)(IStream**) override { return E_NOTIMPL; }

    // IDestinationStreamFactory
    STDMETHOD(GetDestinationStream)(IStream** destination) override;

protected:
    // IDestinationStreamFactory only with safe save enabled.
    bool Offers(REFIID iid) const noexcept override;
    // Counts the call and tells whether it is to fail (and with what).
    bool ShouldFail(StreamCall kind, HRESULT& hr);

private:
    std::vector<std::uint8_t> m_bytes;
    ULONGLONG m_position = 0;
    std::map<StreamCall, int> m_calls;
    std::multimap<StreamCall, std::pair<int, HRESULT>> m_failures;
    std::map<StreamCall, HRESULT> m_failingKinds;
    bool m_readOnly = false;
    ULONG m_readChunk = 0;
    ULONG m_overreport = 0;
    int m_failingReads = 0;
    ULONG m_failingReadCount = 0;
    HRESULT m_failingReadResult = S_OK;
    const void* m_lastReadBuffer = nullptr;
    ULONG m_lastReadCount = 0;
    std::optional<ULONGLONG> m_writeRoom;
    HRESULT m_commitFailureAfterReplacing = S_OK;
    std::vector<LoggedCall> m_log;
    bool m_safeSave = false;
    ComPtr<MemoryStream> m_destination;
    std::map<StreamCall, std::pair<int, HRESULT>> m_destinationFailures;
    std::map<StreamCall, int> m_lastDestinationCalls;
};
