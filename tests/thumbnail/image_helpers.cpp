#include "tests/thumbnail/image_helpers.h"

#include "tests/support/com_helpers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

namespace {

void Check(HRESULT hr, const char* what)
{
    if (FAILED(hr)) {
        throw std::runtime_error(std::string(what) + " failed");
    }
}

} // namespace

Image Quadrants(UINT width, UINT height, Pixel topLeft, Pixel topRight, Pixel bottomLeft, Pixel bottomRight)
{
    Image image{width, height, {}};
    image.pixels.reserve(static_cast<std::size_t>(width) * height);
    for (UINT y = 0; y < height; ++y) {
        for (UINT x = 0; x < width; ++x) {
            const bool right = x >= width / 2;
            image.pixels.push_back(y < height / 2 ? (right ? topRight : topLeft) : (right ? bottomRight : bottomLeft));
        }
    }
    return image;
}

Bytes EncodeImage(const Image& image, REFGUID container, REFWICPixelFormatGUID format)
{
    ComPtr<IWICImagingFactory> factory;
    Check(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory, &factory),
          "creating the imaging factory");
    ComPtr<IWICBitmap> source;
    Check(factory->CreateBitmapFromMemory(image.width, image.height, GUID_WICPixelFormat32bppBGRA, image.width * 4,
                                          static_cast<UINT>(image.pixels.size() * 4),
                                          reinterpret_cast<BYTE*>(const_cast<Pixel*>(image.pixels.data())), &source),
          "wrapping the pixels");
    ComPtr<IWICFormatConverter> converted;
    Check(factory->CreateFormatConverter(&converted), "creating a converter");
    Check(
        converted->Initialize(source.Get(), format, WICBitmapDitherTypeNone, nullptr, 0.0, WICBitmapPaletteTypeCustom),
        "converting the pixels");

    ComPtr<IStream> stream;
    Check(CreateStreamOnHGlobal(nullptr, TRUE, &stream), "creating the stream");
    ComPtr<IWICBitmapEncoder> encoder;
    Check(factory->CreateEncoder(container, nullptr, &encoder), "creating the encoder");
    Check(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache), "starting the encoder");
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> options;
    Check(encoder->CreateNewFrame(&frame, &options), "creating a frame");
    Check(frame->Initialize(options.Get()), "starting the frame");
    Check(frame->SetSize(image.width, image.height), "sizing the frame");
    WICPixelFormatGUID frameFormat = format;
    Check(frame->SetPixelFormat(&frameFormat), "choosing the pixel format");
    if (frameFormat != format) {
        throw std::runtime_error("the encoder does not take the pixel format");
    }
    Check(frame->WriteSource(converted.Get(), nullptr), "writing the pixels");
    Check(frame->Commit(), "finishing the frame");
    Check(encoder->Commit(), "finishing the image");

    STATSTG stat{};
    Check(stream->Stat(&stat, STATFLAG_NONAME), "sizing the stream");
    Bytes bytes(static_cast<std::size_t>(stat.cbSize.QuadPart));
    const LARGE_INTEGER start{};
    Check(stream->Seek(start, STREAM_SEEK_SET, nullptr), "rewinding");
    ULONG got = 0;
    Check(stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got), "reading the image");
    bytes.resize(got);
    return bytes;
}

Image ReadDib(HBITMAP bitmap)
{
    DIBSECTION section{};
    if (GetObjectW(bitmap, sizeof(section), &section) != sizeof(section)) {
        ADD_FAILURE() << "not a DIB section";
        return {};
    }
    if (section.dsBm.bmBitsPixel != 32 || section.dsBm.bmBits == nullptr) {
        ADD_FAILURE() << "not a 32-bit DIB section: " << section.dsBm.bmBitsPixel << " bits";
        return {};
    }
    Image image{static_cast<UINT>(section.dsBm.bmWidth), static_cast<UINT>(section.dsBm.bmHeight), {}};
    const auto* bits = static_cast<const Pixel*>(section.dsBm.bmBits);
    image.pixels.assign(bits, bits + static_cast<std::size_t>(image.width) * image.height);
    return image;
}

bool ColourNear(Pixel actual, Pixel expected, int tolerance)
{
    for (int shift = 0; shift < 32; shift += 8) {
        const int a = static_cast<int>((actual >> shift) & 0xFF);
        const int e = static_cast<int>((expected >> shift) & 0xFF);
        if (std::abs(a - e) > tolerance) {
            return false;
        }
    }
    return true;
}
