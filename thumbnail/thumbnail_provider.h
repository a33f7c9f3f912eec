// The thumbnail provider: one object per FLAC file, initialised with the
// file's stream. It finds the first embedded picture and has the system's
// photo thumbnail provider turn its bytes into the bitmap.
#pragma once

#include "com/co_class.h"
#include "flacio/stream_chain.h"
#include "resources/identifiers.h"
#include "resources/resource_ids.h"
#include "thumbnail/photo_thumbnail_clsid.h"

#include <FLAC/metadata.h>
#include <wrl/client.h>

class CThumbnailProvider : public CComObjectRootEx<CComSingleThreadModel>,
                           public CComCoClass<CThumbnailProvider, &CLSID_ThumbnailProvider>,
                           public IInitializeWithStream,
                           public IThumbnailProvider {
public:
    BEGIN_COM_MAP(CThumbnailProvider)
    COM_INTERFACE_ENTRY(IInitializeWithStream)
    COM_INTERFACE_ENTRY(IThumbnailProvider)
    END_COM_MAP()

    DECLARE_REGISTRY_RESOURCEID(IDR_THUMBNAILPROVIDER)

    CThumbnailProvider() = default;
    CThumbnailProvider(const CThumbnailProvider&) = delete;
    CThumbnailProvider& operator=(const CThumbnailProvider&) = delete;
    virtual ~CThumbnailProvider() = default;

    HRESULT FinalConstruct() noexcept;

    // IInitializeWithStream
    STDMETHOD(Initialize)(IStream* stream, DWORD mode) override;

    // IThumbnailProvider
    STDMETHOD(GetThumbnail)(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) override;

private:
    // Reads the chain from `stream` and hands its first picture, if any, to
    // the photo thumbnail provider.
    HRESULT ReadFirstPicture(IStream* stream);
    // The chain's first PICTURE block, whatever its type; null when there is
    // none. Throws E_OUTOFMEMORY when the chain cannot be walked.
    const FLAC__StreamMetadata* FindFirstPicture() const;
    // Creates the photo thumbnail provider, initialises it with a memory
    // stream over the picture's bytes and keeps it in m_innerProvider.
    HRESULT DelegatePicture(const FLAC__StreamMetadata_Picture& picture) noexcept;

    // Declared first, so that the inner provider goes before it.
    StreamChain m_file;
    Microsoft::WRL::ComPtr<IThumbnailProvider> m_innerProvider;
};
