// An IStream that passes every call on to another stream and counts the
// calls and bytes that go through it. When the inner stream offers
// IDestinationStreamFactory, so does this one, and the destination it hands
// out is counted too. With a delay, every call waits that long before it is
// passed on, as a call to a file on a share across a network does.
#pragma once

#include "bench/bench.h"
#include "tools/common/unknown_object.h"

#include <wrl/client.h>

struct StreamCounts {
    ULONGLONG reads = 0;
    ULONGLONG writes = 0;
    ULONGLONG seeks = 0;
    ULONGLONG commits = 0;
    ULONGLONG stats = 0;
    // SetSize, CopyTo, Revert, LockRegion, UnlockRegion, GetDestinationStream.
    ULONGLONG others = 0;
    ULONGLONG bytesRead = 0;
    ULONGLONG bytesWritten = 0;
    // Time spent inside the inner stream's calls, in microseconds.
    double readMicros = 0;
    double writeMicros = 0;
    double seekMicros = 0;
    double commitMicros = 0;

    // Every call made on the stream, of whatever kind.
    ULONGLONG Calls() const { return reads + writes + seeks + commits + stats + others; }
};

class CountingStream final : public UnknownObject<IStream, IDestinationStreamFactory> {
public:
    // A new stream over `inner` (which it holds a reference on); counts go to `counts`, destination counts to
    // `destinationCounts` when given (a destination is passed on as it is
    // otherwise). Each call first waits `delayMicros`: a busy wait on the
    // performance counter, exact to a microsecond or so, where a Sleep would
    // round to the scheduler's tick. A counted destination waits as long.
    static Microsoft::WRL::ComPtr<CountingStream>
    Create(IStream* inner, StreamCounts& counts, StreamCounts* destinationCounts = nullptr, double delayMicros = 0);

    // ISequentialStream and IStream
    STDMETHOD(Read)(void* buffer, ULONG count, ULONG* read) override;
    STDMETHOD(Write)(const void* buffer, ULONG count, ULONG* written) override;
    STDMETHOD(Seek)(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override;
    STDMETHOD(SetSize)(ULARGE_INTEGER size) override;
    STDMETHOD(CopyTo)(IStream* to, ULARGE_INTEGER count, ULARGE_INTEGER* read, ULARGE_INTEGER* written) override;
    STDMETHOD(Commit)(DWORD flags) override;
    STDMETHOD(Revert)() override;
    STDMETHOD(LockRegion)(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) override;
    STDMETHOD(UnlockRegion)(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) override;
    STDMETHOD(Stat)(STATSTG* stat, DWORD flags) override;
    STDMETHOD(Clone)(IStream** clone) override;

    // IDestinationStreamFactory
    STDMETHOD(GetDestinationStream)(IStream** destination) override;

private:
    CountingStream(IStream* inner, StreamCounts& counts, StreamCounts* destinationCounts, double delayMicros);

    // IDestinationStreamFactory only when the inner stream offers it.
    bool Offers(REFIID iid) const noexcept override;

    // Waits out the delay of one call.
    void Delay() const;

    Microsoft::WRL::ComPtr<IStream> m_inner;
    StreamCounts& m_counts;
    StreamCounts* m_destinationCounts;
    double m_delayMicros;
};

// Busy-waits `micros` microseconds.
void WaitMicros(double micros);
