// Field names compared fast: the first eight bytes of a name as one number
// (zero-padded) that orders as the bytes do, so that telling two names apart
// mostly takes one integer comparison instead of a call per comparison.
#pragma once

#include <cstdint>
#include <string_view>

constexpr std::uint64_t NamePrefix(std::string_view name) noexcept
{
    std::uint64_t prefix = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        prefix = prefix << 8 | (i < name.size() ? static_cast<unsigned char>(name[i]) : 0U);
    }
    return prefix;
}

// Orders as std::string_view's compare (unsigned bytes, the shorter first on
// a common prefix), given each name's NamePrefix. With equal prefixes and one
// name of at most eight bytes, that one is the other's beginning (the rest of
// its eight bytes are zeros in both), so the lengths decide.
constexpr int CompareNames(std::string_view a, std::uint64_t aPrefix, std::string_view b,
                           std::uint64_t bPrefix) noexcept
{
    if (aPrefix != bPrefix) {
        return aPrefix < bPrefix ? -1 : 1;
    }
    if (a.size() <= 8 || b.size() <= 8) {
        return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
    }
    return a.substr(8).compare(b.substr(8));
}
