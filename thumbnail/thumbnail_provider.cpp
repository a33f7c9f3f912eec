#include "thumbnail/thumbnail_provider.h"

#include "com/atl_exception.h"
#include "flacio/buffered_stream.h"
#include "flacio/metadata_iterator.h"

using Microsoft::WRL::ComPtr;

HRESULT CThumbnailProvider::FinalConstruct() noexcept
{
    return m_file.Create();
}

STDMETHODIMP CThumbnailProvider::Initialize(IStream* stream, DWORD /*mode*/)
{
    return m_file.Initialize(stream, [&]() { return ReadFirstPicture(stream); });
}

HRESULT CThumbnailProvider::ReadFirstPicture(IStream* stream)
{
    BufferedStream io(stream, BufferedStream::kMetadataBlock);
    const HRESULT hr = m_file.Read(io);
    if (FAILED(hr)) {
        return hr;
    }
    const FLAC__StreamMetadata* picture = FindFirstPicture();
    return picture != nullptr ? DelegatePicture(picture->data.picture) : S_OK;
}

const FLAC__StreamMetadata* CThumbnailProvider::FindFirstPicture() const
{
    MetadataIterator iterator = NewChainIterator(m_file.Chain());
    if (!iterator) {
        AtlThrow(E_OUTOFMEMORY);
    }
    // The first picture, whatever its type: a back cover that comes before
    // the front cover is the one shown.
    do {
        const FLAC__StreamMetadata* block = FLAC__metadata_iterator_get_block(iterator.get());
        if (block->type == FLAC__METADATA_TYPE_PICTURE) {
            return block;
        }
    } while (FLAC__metadata_iterator_next(iterator.get()));
    return nullptr;
}

HRESULT CThumbnailProvider::DelegatePicture(const FLAC__StreamMetadata_Picture& picture) noexcept
{
    ComPtr<IUnknown> photoProvider;
    HRESULT hr =
        CoCreateInstance(CLSID_PhotoThumbnailProvider, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &photoProvider);
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<IInitializeWithStream> photoInit;
    if (FAILED(photoProvider.As(&photoInit))) {
        return E_NOINTERFACE;
    }
    // SHCreateMemStream hands out a reference of its own, which the holder
    // takes over (mingw-w64's ComPtr::Attach would add one more).
    ComPtr<IStream> pictureStream;
    *pictureStream.ReleaseAndGetAddressOf() = SHCreateMemStream(picture.data, picture.data_length);
    if (!pictureStream) {
        return E_FAIL;
    }
    hr = photoInit->Initialize(pictureStream.Get(), STGM_READ);
    if (FAILED(hr)) {
        return hr;
    }
    return photoProvider.As(&m_innerProvider);
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
    if (!m_innerProvider) {
        return E_FAIL;
    }
    return m_innerProvider->GetThumbnail(cx, bitmap, alpha);
}
