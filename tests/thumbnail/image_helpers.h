// Images for thumbnail tests: encoded with the imaging component at test time
// from known pixels, and DIB sections read back as pixels.
#pragma once

#include "tests/support/flac_builder.h"

#include "platform/platform.h"

#include <cstdint>
#include <vector>

// 0xAARRGGBB, the memory order of a 32-bit BGRA pixel.
using Pixel = std::uint32_t;

struct Image {
    UINT width = 0;
    UINT height = 0;
    std::vector<Pixel> pixels; // top-down rows

    Pixel At(UINT x, UINT y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// An opaque image of four solid quadrants: top left, top right, bottom left,
// bottom right.
Image Quadrants(UINT width, UINT height, Pixel topLeft, Pixel topRight, Pixel bottomLeft, Pixel bottomRight);

// The image encoded as `container` (GUID_ContainerFormatPng, ...), its pixels
// stored as `format` (GUID_WICPixelFormat32bppBGRA keeps alpha).
Bytes EncodeImage(const Image& image, REFGUID container, REFWICPixelFormatGUID format);

// The pixels of a 32-bit DIB section in memory order (top row first for a
// top-down one); fails the test for any other bitmap.
Image ReadDib(HBITMAP bitmap);

// Whether every channel of `actual` is within `tolerance` of `expected`.
bool ColourNear(Pixel actual, Pixel expected, int tolerance);
