#include "thumbnail/thumbnail_provider.h"

#include "com/atl_exception.h"
#include "flacio/buffered_stream.h"
#include "flacio/metadata_iterator.h"
#include "flacio/stream_io.h"

CThumbnailProvider::~CThumbnailProvider()
{
    if (m_innerProvider != nullptr) {
        m_innerProvider->Release();
        m_innerProvider = nullptr;
    }
    if (m_chain != nullptr) {
        FLAC__metadata_chain_delete(m_chain);
        m_chain = nullptr;
    }
    if (m_stream != nullptr) {
        m_stream->Release();
        m_stream = nullptr;
    }
}

HRESULT CThumbnailProvider::FinalConstruct() noexcept
{
    m_chain = FLAC__metadata_chain_new();
    return m_chain != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CThumbnailProvider::Initialize(IStream* stream, DWORD /*mode*/)
{
    if (stream == nullptr) {
        return E_INVALIDARG;
    }
    if (m_stream != nullptr) {
        return E_FAIL;
    }
    return GuardHResult([&]() -> HRESULT {
        BufferedStream io(stream, BufferedStream::kMetadataBlock);
        if (!FLAC__metadata_chain_read_with_callbacks(m_chain, io.Handle(), BufferedIOCallbacks)) {
            return TakeChainStatus(m_chain);
        }
        HRESULT hr = S_OK;
        {
            MetadataIterator iterator = NewChainIterator(m_chain);
            if (!iterator) {
                return E_OUTOFMEMORY;
            }
            // The first picture, whatever its type: a back cover that comes
            // before the front cover is the one shown.
            const FLAC__StreamMetadata* picture = nullptr;
            do {
                const FLAC__StreamMetadata* block = FLAC__metadata_iterator_get_block(iterator.get());
                if (block->type == FLAC__METADATA_TYPE_PICTURE && picture == nullptr) {
                    picture = block;
                }
            } while (FLAC__metadata_iterator_next(iterator.get()));

            if (picture != nullptr) {
                hr = DelegatePicture(picture->data.picture);
            }
        }
        if (FAILED(hr)) {
            return hr;
        }
        stream->AddRef();
        m_stream = stream;
        return hr;
    });
}

HRESULT CThumbnailProvider::DelegatePicture(const FLAC__StreamMetadata_Picture& picture) noexcept
{
    IUnknown* photoProvider = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_PhotoThumbnailProvider, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                  reinterpret_cast<void**>(&photoProvider));
    if (FAILED(hr)) {
        return hr;
    }
    IInitializeWithStream* photoInit = nullptr;
    photoProvider->QueryInterface(IID_IInitializeWithStream, reinterpret_cast<void**>(&photoInit));
    if (photoInit == nullptr) {
        photoProvider->Release();
        return E_NOINTERFACE;
    }
    IStream* pictureStream = SHCreateMemStream(picture.data, picture.data_length);
    if (pictureStream == nullptr) {
        photoInit->Release();
        photoProvider->Release();
        return E_FAIL;
    }
    hr = photoInit->Initialize(pictureStream, STGM_READ);
    pictureStream->Release();
    if (FAILED(hr)) {
        photoInit->Release();
        photoProvider->Release();
        return hr;
    }
    photoInit->Release();
    if (m_innerProvider != nullptr) {
        IThumbnailProvider* previous = m_innerProvider;
        m_innerProvider = nullptr;
        previous->Release();
    }
    hr = photoProvider->QueryInterface(__uuidof(IThumbnailProvider), reinterpret_cast<void**>(&m_innerProvider));
    photoProvider->Release();
    return hr;
}

STDMETHODIMP CThumbnailProvider::GetThumbnail(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha)
{
    // Callers may read the out-parameters whatever the result.
    if (bitmap != nullptr) {
        *bitmap = nullptr;
    }
    if (alpha != nullptr) {
        *alpha = WTSAT_UNKNOWN;
    }
    if (bitmap == nullptr || alpha == nullptr) {
        return E_POINTER;
    }
    if (m_innerProvider == nullptr) {
        return E_FAIL;
    }
    return m_innerProvider->GetThumbnail(cx, bitmap, alpha);
}
