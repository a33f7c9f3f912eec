#include "tools/photo_thumbnail_standin/wic_thumbnail_provider.h"

#include <algorithm>

using Microsoft::WRL::ComPtr;

LONG g_standinLocks = 0;

namespace {

// Whether the decoded frame carries transparency: its pixel format says it
// can, and, for an indexed format, its palette actually has alpha.
bool FrameHasAlpha(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame, REFWICPixelFormatGUID format)
{
    ComPtr<IWICComponentInfo> info;
    ComPtr<IWICPixelFormatInfo2> formatInfo;
    BOOL transparent = FALSE;
    if (FAILED(factory->CreateComponentInfo(format, &info)) ||
        FAILED(info->QueryInterface(IID_IWICPixelFormatInfo2, &formatInfo)) ||
        FAILED(formatInfo->SupportsTransparency(&transparent)) || !transparent) {
        return false;
    }
    ComPtr<IWICPalette> palette;
    if (SUCCEEDED(factory->CreatePalette(&palette)) && SUCCEEDED(frame->CopyPalette(palette.Get()))) {
        BOOL paletteAlpha = FALSE;
        return SUCCEEDED(palette->HasAlpha(&paletteAlpha)) && paletteAlpha;
    }
    return true;
}

// The size that fits a `width` x `height` image into `cx` x `cx`, keeping its
// aspect ratio: the longer side becomes `cx`, the shorter at least 1.
SIZE FitInto(UINT width, UINT height, UINT cx)
{
    const auto longer = std::max(width, height);
    const auto shorter = std::min(width, height);
    const auto scaled =
        static_cast<LONG>(std::max<ULONGLONG>(1, (static_cast<ULONGLONG>(shorter) * cx + longer / 2) / longer));
    return width >= height ? SIZE{static_cast<LONG>(cx), scaled} : SIZE{scaled, static_cast<LONG>(cx)};
}

} // namespace

WicThumbnailProvider::WicThumbnailProvider() noexcept
{
    InterlockedIncrement(&g_standinLocks);
}

WicThumbnailProvider::~WicThumbnailProvider()
{
    InterlockedDecrement(&g_standinLocks);
}

STDMETHODIMP WicThumbnailProvider::Initialize(IStream* stream, DWORD /*mode*/)
{
    if (stream == nullptr) {
        return E_INVALIDARG;
    }
    if (m_image) {
        return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
    }
    ComPtr<IWICImagingFactory> factory;
    HRESULT hr =
        CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory, &factory);
    ComPtr<IWICBitmapDecoder> decoder;
    if (SUCCEEDED(hr)) {
        hr = factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnDemand, &decoder);
    }
    ComPtr<IWICBitmapFrameDecode> frame;
    if (SUCCEEDED(hr)) {
        hr = decoder->GetFrame(0, &frame);
    }
    WICPixelFormatGUID format{};
    if (SUCCEEDED(hr)) {
        hr = frame->GetPixelFormat(&format);
    }
    ComPtr<IWICFormatConverter> converter;
    if (SUCCEEDED(hr)) {
        hr = factory->CreateFormatConverter(&converter);
    }
    if (SUCCEEDED(hr)) {
        hr = converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom);
    }
    // Decoded in full now: the caller may drop the stream once we return.
    ComPtr<IWICBitmap> image;
    if (SUCCEEDED(hr)) {
        hr = factory->CreateBitmapFromSource(converter.Get(), WICBitmapCacheOnLoad, &image);
    }
    if (FAILED(hr)) {
        return hr;
    }
    m_alpha = FrameHasAlpha(factory.Get(), frame.Get(), format) ? WTSAT_ARGB : WTSAT_RGB;
    m_factory.Swap(factory);
    m_image.Swap(image);
    return S_OK;
}

STDMETHODIMP WicThumbnailProvider::GetThumbnail(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha)
{
    if (bitmap == nullptr || alpha == nullptr) {
        return E_POINTER;
    }
    *bitmap = nullptr;
    *alpha = WTSAT_UNKNOWN;
    if (cx == 0) {
        return E_INVALIDARG;
    }
    if (!m_image) {
        return E_UNEXPECTED;
    }
    UINT width = 0;
    UINT height = 0;
    HRESULT hr = m_image->GetSize(&width, &height);
    if (FAILED(hr)) {
        return hr;
    }
    const SIZE size = FitInto(width, height, cx);
    const ULONGLONG stride = static_cast<ULONGLONG>(size.cx) * 4;
    const ULONGLONG bytes = stride * static_cast<ULONGLONG>(size.cy);
    if (bytes > 0x7FFFFFFF) {
        return E_OUTOFMEMORY;
    }

    ComPtr<IWICBitmapScaler> scaler;
    IWICBitmapSource* source = m_image.Get();
    if (static_cast<UINT>(size.cx) != width || static_cast<UINT>(size.cy) != height) {
        hr = m_factory->CreateBitmapScaler(&scaler);
        if (SUCCEEDED(hr)) {
            hr = scaler->Initialize(m_image.Get(), static_cast<UINT>(size.cx), static_cast<UINT>(size.cy),
                                    WICBitmapInterpolationModeFant);
        }
        if (FAILED(hr)) {
            return hr;
        }
        source = scaler.Get();
    }

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = size.cx;
    info.bmiHeader.biHeight = -size.cy; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    HBITMAP dib = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (dib == nullptr) {
        return E_OUTOFMEMORY;
    }
    hr = source->CopyPixels(nullptr, static_cast<UINT>(stride), static_cast<UINT>(bytes), static_cast<BYTE*>(pixels));
    if (FAILED(hr)) {
        DeleteObject(dib);
        return hr;
    }
    *bitmap = dib;
    *alpha = m_alpha;
    return S_OK;
}
