// The thumbnail provider: one object per FLAC file, initialised with the
// file's stream. It finds the first embedded picture and has the system's
// photo thumbnail provider turn its bytes into the bitmap.
#pragma once

#include "com/co_class.h"
#include "resources/identifiers.h"
#include "resources/resource_ids.h"
#include "thumbnail/photo_thumbnail_clsid.h"

#include <FLAC/metadata.h>

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
    virtual ~CThumbnailProvider();

    HRESULT FinalConstruct() noexcept;

    // IInitializeWithStream
    STDMETHOD(Initialize)(IStream* stream, DWORD mode) override;

    // IThumbnailProvider
    STDMETHOD(GetThumbnail)(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) override;

private:
    // Creates the photo thumbnail provider, initialises it with a memory
    // stream over the picture's bytes and keeps it in m_innerProvider.
    HRESULT DelegatePicture(const FLAC__StreamMetadata_Picture& picture) noexcept;

    IStream* m_stream = nullptr;
    FLAC__Metadata_Chain* m_chain = nullptr;
    IThumbnailProvider* m_innerProvider = nullptr;
};
