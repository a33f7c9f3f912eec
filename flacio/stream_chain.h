// What the property handler and the thumbnail provider each hold of their
// FLAC file: the stream they were initialised with and the metadata chain
// read from it. The chain is made with the object and lives as long as it;
// the stream is held from a successful Initialize on, which happens once.
#pragma once

#include "com/atl_exception.h"
#include "flacio/buffered_stream.h"
#include "flacio/stream_io.h"

#include <FLAC/metadata.h>
#include <wrl/client.h>

class StreamChain {
public:
    StreamChain() = default;
    ~StreamChain()
    {
        if (m_chain != nullptr) {
            FLAC__metadata_chain_delete(m_chain);
        }
    }
    StreamChain(const StreamChain&) = delete;
    StreamChain& operator=(const StreamChain&) = delete;

    // Makes the empty chain, for the object's FinalConstruct.
    HRESULT Create() noexcept
    {
        m_chain = FLAC__metadata_chain_new();
        return m_chain != nullptr ? S_OK : E_OUTOFMEMORY;
    }

    // The frame of an IInitializeWithStream::Initialize: refuses a missing
    // stream (E_INVALIDARG) and a second initialisation (E_FAIL), runs
    // `readFile` (which reads the chain and takes what the object needs from
    // it; what it throws becomes its HRESULT), and holds the stream only when
    // that succeeded.
    template <class ReadFile> HRESULT Initialize(IStream* stream, ReadFile&& readFile) noexcept
    {
        if (stream == nullptr) {
            return E_INVALIDARG;
        }
        if (m_stream) {
            return E_FAIL;
        }
        return GuardHResult([&]() -> HRESULT {
            const HRESULT hr = readFile();
            if (SUCCEEDED(hr)) {
                m_stream = stream;
            }
            return hr;
        });
    }

    // Reads the chain through `io`; libFLAC's status, as an HRESULT, when
    // that fails.
    HRESULT Read(BufferedStream& io) noexcept
    {
        if (!FLAC__metadata_chain_read_with_callbacks(m_chain, io.Handle(), BufferedIOCallbacks)) {
            return TakeChainStatus(m_chain);
        }
        return S_OK;
    }

    // The stream held since Initialize succeeded; null before.
    IStream* Stream() const noexcept { return m_stream.Get(); }
    FLAC__Metadata_Chain* Chain() const noexcept { return m_chain; }

private:
    Microsoft::WRL::ComPtr<IStream> m_stream;
    FLAC__Metadata_Chain* m_chain = nullptr;
};
