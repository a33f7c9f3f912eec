#include "tests/support/flac_layout.h"

#include <stdexcept>

namespace {

std::uint32_t BigEndian(const Bytes& bytes, std::size_t at, int count)
{
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
        value = (value << 8) | bytes.at(at + i);
    }
    return value;
}

std::uint32_t LittleEndian(const Bytes& bytes, std::size_t at)
{
    return bytes.at(at) | bytes.at(at + 1) << 8 | bytes.at(at + 2) << 16 |
           static_cast<std::uint32_t>(bytes.at(at + 3)) << 24;
}

} // namespace

std::vector<std::uint8_t> FlacLayout::Types() const
{
    std::vector<std::uint8_t> types;
    for (const auto& block : blocks) {
        types.push_back(block.type);
    }
    return types;
}

const BlockLayout* FlacLayout::First(std::uint8_t type) const
{
    for (const auto& block : blocks) {
        if (block.type == type) {
            return &block;
        }
    }
    return nullptr;
}

FlacLayout ParseFlacLayout(const Bytes& bytes)
{
    FlacLayout layout;
    std::size_t at = 0;
    if (bytes.size() >= 10 && bytes[0] == 'I' && bytes[1] == 'D' && bytes[2] == '3') {
        const std::uint32_t size =
            (bytes[6] & 0x7F) << 21 | (bytes[7] & 0x7F) << 14 | (bytes[8] & 0x7F) << 7 | (bytes[9] & 0x7F);
        at = 10 + size;
    }
    layout.prefixLength = at;
    if (bytes.size() < at + 4 || bytes[at] != 'f' || bytes[at + 1] != 'L' || bytes[at + 2] != 'a' ||
        bytes[at + 3] != 'C') {
        throw std::runtime_error("no fLaC marker");
    }
    at += 4;
    for (bool last = false; !last;) {
        BlockLayout block;
        block.offset = at;
        last = (bytes.at(at) & 0x80) != 0;
        block.type = bytes.at(at) & 0x7F;
        block.length = BigEndian(bytes, at + 1, 3);
        at += 4;
        if (at + block.length > bytes.size()) {
            throw std::runtime_error("block beyond the end");
        }
        block.body.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                          bytes.begin() + static_cast<std::ptrdiff_t>(at + block.length));
        at += block.length;
        layout.blocks.push_back(std::move(block));
    }
    layout.audioOffset = at;
    return layout;
}

VorbisCommentBody ParseVorbisCommentBody(const Bytes& body)
{
    VorbisCommentBody result;
    std::size_t at = 0;
    const std::uint32_t vendorLength = LittleEndian(body, at);
    at += 4;
    result.vendor.assign(body.begin() + static_cast<std::ptrdiff_t>(at),
                         body.begin() + static_cast<std::ptrdiff_t>(at + vendorLength));
    at += vendorLength;
    const std::uint32_t count = LittleEndian(body, at);
    at += 4;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t length = LittleEndian(body, at);
        at += 4;
        result.comments.emplace_back(body.begin() + static_cast<std::ptrdiff_t>(at),
                                     body.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
    }
    return result;
}

Bytes Tail(const Bytes& bytes, std::size_t offset)
{
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset), bytes.end());
}
