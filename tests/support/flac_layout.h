// Reads back the layout of a FLAC stream, to check what was written: the
// bytes in front of the marker, each metadata block, and where audio starts.
#pragma once

#include "tests/support/flac_builder.h"

#include <cstdint>
#include <string>
#include <vector>

struct BlockLayout {
    std::uint8_t type = 0;
    std::uint32_t length = 0;
    std::size_t offset = 0; // of the block header
    Bytes body;
};

struct FlacLayout {
    std::size_t prefixLength = 0; // ID3v2 tag in front of "fLaC"
    std::vector<BlockLayout> blocks;
    std::size_t audioOffset = 0;

    std::vector<std::uint8_t> Types() const;
    const BlockLayout* First(std::uint8_t type) const;
};

FlacLayout ParseFlacLayout(const Bytes& bytes);

struct VorbisCommentBody {
    std::string vendor;
    std::vector<std::string> comments;
};

VorbisCommentBody ParseVorbisCommentBody(const Bytes& body);

// The bytes from `offset` to the end.
Bytes Tail(const Bytes& bytes, std::size_t offset);

inline constexpr std::uint8_t StreamInfoType = 0;
inline constexpr std::uint8_t PaddingType = 1;
inline constexpr std::uint8_t VorbisCommentType = 4;
inline constexpr std::uint8_t PictureType = 6;
