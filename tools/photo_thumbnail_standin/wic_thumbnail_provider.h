// A photo thumbnail provider for machines that have none (Wine): decodes the
// image bytes it is initialised with through the Windows Imaging Component
// and scales them into a 32-bit top-down DIB section.
#pragma once

#include "tools/common/unknown_object.h"

#include <wrl/client.h>

class WicThumbnailProvider final : public UnknownObject<IInitializeWithStream, IThumbnailProvider> {
public:
    WicThumbnailProvider() noexcept;
    ~WicThumbnailProvider() override;

    // IInitializeWithStream: decodes the first frame; bytes that are no
    // image give the imaging component's error.
    STDMETHOD(Initialize)(IStream* stream, DWORD mode) override;

    // IThumbnailProvider: the image scaled so that its longer side is `cx`.
    STDMETHOD(GetThumbnail)(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) override;

private:
    Microsoft::WRL::ComPtr<IWICImagingFactory> m_factory;
    Microsoft::WRL::ComPtr<IWICBitmap> m_image; // the decoded frame as 32bppBGRA
    WTS_ALPHATYPE m_alpha = WTSAT_UNKNOWN;
};

// Objects alive and server locks held, for DllCanUnloadNow.
extern LONG g_standinLocks;
