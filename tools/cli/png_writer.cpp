#include "tools/cli/png_writer.h"

#include <wincodec.h>

namespace {

template <class T> struct Ref {
    T* p = nullptr;
    Ref() = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref()
    {
        if (p != nullptr) {
            p->Release();
        }
    }
    void** Out() { return reinterpret_cast<void**>(&p); }
};

} // namespace

HRESULT SaveBitmapAsPng(HBITMAP bitmap, bool hasAlpha, const std::wstring& path)
{
    Ref<IWICImagingFactory> factory;
    HRESULT hr =
        CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory, factory.Out());
    Ref<IWICBitmap> source;
    if (SUCCEEDED(hr)) {
        hr = factory.p->CreateBitmapFromHBITMAP(bitmap, nullptr, hasAlpha ? WICBitmapUseAlpha : WICBitmapIgnoreAlpha,
                                                &source.p);
    }
    Ref<IWICStream> stream;
    if (SUCCEEDED(hr)) {
        hr = factory.p->CreateStream(&stream.p);
    }
    if (SUCCEEDED(hr)) {
        hr = stream.p->InitializeFromFilename(path.c_str(), GENERIC_WRITE);
    }
    Ref<IWICBitmapEncoder> encoder;
    if (SUCCEEDED(hr)) {
        hr = factory.p->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder.p);
    }
    if (SUCCEEDED(hr)) {
        hr = encoder.p->Initialize(stream.p, WICBitmapEncoderNoCache);
    }
    Ref<IWICBitmapFrameEncode> frame;
    if (SUCCEEDED(hr)) {
        hr = encoder.p->CreateNewFrame(&frame.p, nullptr);
    }
    if (SUCCEEDED(hr)) {
        hr = frame.p->Initialize(nullptr);
    }
    UINT width = 0;
    UINT height = 0;
    if (SUCCEEDED(hr)) {
        hr = source.p->GetSize(&width, &height);
    }
    if (SUCCEEDED(hr)) {
        hr = frame.p->SetSize(width, height);
    }
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    if (SUCCEEDED(hr)) {
        hr = frame.p->SetPixelFormat(&format);
    }
    if (SUCCEEDED(hr)) {
        hr = frame.p->WriteSource(source.p, nullptr);
    }
    if (SUCCEEDED(hr)) {
        hr = frame.p->Commit();
    }
    if (SUCCEEDED(hr)) {
        hr = encoder.p->Commit();
    }
    return hr;
}
