// Key order: unsigned byte-by-byte comparison of the 20-byte memory image of
// a PROPERTYKEY (GUID little-endian, then the property id little-endian).
// This is not the numeric order of the GUID fields.
#pragma once

#include "platform/platform.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

constexpr std::array<std::uint8_t, 20> KeyImage(const PROPERTYKEY& key) noexcept
{
    std::array<std::uint8_t, 20> image{};
    const auto put = [&image](std::size_t at, std::uint32_t value, std::size_t bytes) {
        for (std::size_t i = 0; i < bytes; ++i) {
            image[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    };
    put(0, key.fmtid.Data1, 4);
    put(4, key.fmtid.Data2, 2);
    put(6, key.fmtid.Data3, 2);
    for (std::size_t i = 0; i < 8; ++i) {
        image[8 + i] = key.fmtid.Data4[i];
    }
    put(16, key.pid, 4);
    return image;
}

// Every Windows target is little-endian and PROPERTYKEY has no padding, so
// at run time the image is the key's own bytes.
static_assert(std::endian::native == std::endian::little && sizeof(PROPERTYKEY) == 20);

constexpr int CompareKeys(const PROPERTYKEY& a, const PROPERTYKEY& b) noexcept
{
    if (!std::is_constant_evaluated()) {
        return std::memcmp(&a, &b, sizeof(PROPERTYKEY));
    }
    const auto left = KeyImage(a);
    const auto right = KeyImage(b);
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (left[i] != right[i]) {
            return left[i] < right[i] ? -1 : 1;
        }
    }
    return 0;
}

struct KeyLess {
    constexpr bool operator()(const PROPERTYKEY& a, const PROPERTYKEY& b) const noexcept
    {
        return CompareKeys(a, b) < 0;
    }
};

constexpr bool KeysEqual(const PROPERTYKEY& a, const PROPERTYKEY& b) noexcept
{
    return CompareKeys(a, b) == 0;
}
