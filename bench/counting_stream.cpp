#include "bench/counting_stream.h"

#include <new>

using Microsoft::WRL::ComPtr;

void WaitMicros(double micros)
{
    const Stopwatch clock;
    while (clock.Micros() < micros) {
        YieldProcessor();
    }
}

ComPtr<CountingStream> CountingStream::Create(IStream* inner, StreamCounts& counts, StreamCounts* destinationCounts,
                                              double delayMicros)
{
    return ComPtr<CountingStream>(new (std::nothrow) CountingStream(inner, counts, destinationCounts, delayMicros));
}

CountingStream::CountingStream(IStream* inner, StreamCounts& counts, StreamCounts* destinationCounts,
                               double delayMicros)
    : m_inner(inner), m_counts(counts), m_destinationCounts(destinationCounts), m_delayMicros(delayMicros)
{
}

void CountingStream::Delay() const
{
    if (m_delayMicros > 0) {
        WaitMicros(m_delayMicros);
    }
}

bool CountingStream::Offers(REFIID iid) const noexcept
{
    ComPtr<IDestinationStreamFactory> factory;
    return !IsEqualIID(iid, IID_IDestinationStreamFactory) || SUCCEEDED(m_inner.As(&factory));
}

STDMETHODIMP CountingStream::Read(void* buffer, ULONG count, ULONG* read)
{
    ++m_counts.reads;
    Delay();
    ULONG done = 0;
    const Stopwatch clock;
    const HRESULT hr = m_inner->Read(buffer, count, &done);
    m_counts.readMicros += clock.Micros();
    m_counts.bytesRead += done;
    if (read != nullptr) {
        *read = done;
    }
    return hr;
}

STDMETHODIMP CountingStream::Write(const void* buffer, ULONG count, ULONG* written)
{
    ++m_counts.writes;
    Delay();
    ULONG done = 0;
    const Stopwatch clock;
    const HRESULT hr = m_inner->Write(buffer, count, &done);
    m_counts.writeMicros += clock.Micros();
    m_counts.bytesWritten += done;
    if (written != nullptr) {
        *written = done;
    }
    return hr;
}

STDMETHODIMP CountingStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position)
{
    ++m_counts.seeks;
    Delay();
    const Stopwatch clock;
    const HRESULT hr = m_inner->Seek(move, origin, position);
    m_counts.seekMicros += clock.Micros();
    return hr;
}

STDMETHODIMP CountingStream::SetSize(ULARGE_INTEGER size)
{
    ++m_counts.others;
    Delay();
    return m_inner->SetSize(size);
}

STDMETHODIMP CountingStream::CopyTo(IStream* to, ULARGE_INTEGER count, ULARGE_INTEGER* read, ULARGE_INTEGER* written)
{
    ++m_counts.others;
    Delay();
    return m_inner->CopyTo(to, count, read, written);
}

STDMETHODIMP CountingStream::Commit(DWORD flags)
{
    ++m_counts.commits;
    Delay();
    const Stopwatch clock;
    const HRESULT hr = m_inner->Commit(flags);
    m_counts.commitMicros += clock.Micros();
    return hr;
}

STDMETHODIMP CountingStream::Revert()
{
    ++m_counts.others;
    Delay();
    return m_inner->Revert();
}

STDMETHODIMP CountingStream::LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type)
{
    ++m_counts.others;
    Delay();
    return m_inner->LockRegion(offset, count, type);
}

STDMETHODIMP CountingStream::UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type)
{
    ++m_counts.others;
    Delay();
    return m_inner->UnlockRegion(offset, count, type);
}

STDMETHODIMP CountingStream::Stat(STATSTG* stat, DWORD flags)
{
    ++m_counts.stats;
    Delay();
    return m_inner->Stat(stat, flags);
}

STDMETHODIMP CountingStream::Clone(IStream** clone)
{
    if (clone != nullptr) {
        *clone = nullptr;
    }
    return E_NOTIMPL;
}

STDMETHODIMP CountingStream::GetDestinationStream(IStream** destination)
{
    if (destination == nullptr) {
        return E_POINTER;
    }
    *destination = nullptr;
    ++m_counts.others;
    Delay();
    ComPtr<IDestinationStreamFactory> factory;
    HRESULT hr = m_inner.As(&factory);
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<IStream> inner;
    hr = factory->GetDestinationStream(&inner);
    if (FAILED(hr)) {
        return hr;
    }
    if (m_destinationCounts == nullptr) {
        *destination = inner.Detach();
        return S_OK;
    }
    ComPtr<CountingStream> counted = Create(inner.Get(), *m_destinationCounts, nullptr, m_delayMicros);
    *destination = counted.Detach();
    return *destination != nullptr ? S_OK : E_OUTOFMEMORY;
}
