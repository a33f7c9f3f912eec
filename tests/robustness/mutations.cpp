#include "tests/robustness/mutations.h"

#include "tests/support/flac_layout.h"

#include <algorithm>
#include <cstdint>
#include <random>

namespace {

class Mutator {
public:
    Mutator(const Bytes& original, std::uint64_t seed)
        : m_bytes(original), m_layout(ParseFlacLayout(original)), m_random(seed)
    {
    }

    Mutation Run()
    {
        const int count = 1 + static_cast<int>(Below(3));
        for (int i = 0; i < count; ++i) {
            Once();
        }
        // A cut comes last, so that every other damage lands inside the stream.
        if (m_cut < m_bytes.size()) {
            m_bytes.resize(m_cut);
            Note("cut at " + std::to_string(m_cut));
        }
        return {std::move(m_bytes), m_description};
    }

private:
    std::uint64_t Below(std::uint64_t n) { return n == 0 ? 0 : m_random() % n; }

    void Note(const std::string& what) { m_description += (m_description.empty() ? "" : "; ") + what; }

    const BlockLayout& AnyBlock() { return m_layout.blocks[Below(m_layout.blocks.size())]; }

    const BlockLayout* BlockOfType(std::uint8_t type)
    {
        std::vector<const BlockLayout*> found;
        for (const auto& block : m_layout.blocks) {
            if (block.type == type) {
                found.push_back(&block);
            }
        }
        return found.empty() ? nullptr : found[Below(found.size())];
    }

    // An offset in the metadata region: the prefix, the marker and the blocks.
    std::size_t MetadataOffset() { return Below(m_layout.audioOffset); }

    void PutBigEndian(std::size_t at, std::uint32_t value, int count)
    {
        for (int i = count - 1; i >= 0 && at < m_bytes.size(); --i, ++at) {
            m_bytes[at] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    }

    void PutLittleEndian(std::size_t at, std::uint32_t value)
    {
        for (int i = 0; i < 4 && at + i < m_bytes.size(); ++i) {
            m_bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    }

    std::uint32_t OddLength(std::uint32_t current)
    {
        const std::uint32_t beyondEnd = static_cast<std::uint32_t>(m_bytes.size());
        const std::uint32_t choices[] = {0,           1,
                                         current - 1, current + 1,
                                         current * 2, 0x00FFFFFF,
                                         beyondEnd,   0x7FFFFFFF,
                                         0xFFFFFFFF,  0x80000000,
                                         current / 2, 0x00FFFFFE,
                                         100000,      static_cast<std::uint32_t>(m_random())};
        return choices[Below(std::size(choices))];
    }

    // The offset of a little-endian length inside a VORBIS_COMMENT body:
    // the vendor length, the comment count, or one entry's length.
    void DamageVorbisComment(const BlockLayout& block)
    {
        const std::size_t body = block.offset + 4;
        std::vector<std::pair<std::size_t, std::string>> fields = {{body, "vendor length"}};
        if (block.length >= 8) {
            const std::uint32_t vendor = LittleEndianAt(body);
            std::size_t at = body + 4 + vendor;
            if (at + 4 <= body + block.length) {
                fields.push_back({at, "comment count"});
                const std::uint32_t comments = LittleEndianAt(at);
                at += 4;
                for (std::uint32_t i = 0; i < comments && at + 4 <= body + block.length; ++i) {
                    fields.push_back({at, "entry " + std::to_string(i) + " length"});
                    at += 4 + LittleEndianAt(at);
                }
            }
        }
        const auto& [at, what] = fields[Below(fields.size())];
        const std::uint32_t value = OddLength(LittleEndianAt(at));
        PutLittleEndian(at, value);
        Note("VORBIS_COMMENT " + what + " = " + std::to_string(value));
    }

    void PutCharactersInComments(const BlockLayout& block)
    {
        if (block.length == 0) {
            return;
        }
        const char characters[] = {'=', '\0', '\xFF', '\x7E', '\xC3', '\x01'};
        const int count = 1 + static_cast<int>(Below(4));
        for (int i = 0; i < count; ++i) {
            const std::size_t at = block.offset + 4 + Below(block.length);
            const char c = characters[Below(std::size(characters))];
            m_bytes[at] = static_cast<std::uint8_t>(c);
            Note("byte " + std::to_string(at) + " = " + std::to_string(static_cast<unsigned char>(c)));
        }
    }

    std::uint32_t LittleEndianAt(std::size_t at) const
    {
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i) {
            value = (value << 8) | (at + i < m_bytes.size() ? m_bytes[at + i] : 0);
        }
        return value;
    }

    void Once()
    {
        switch (Below(10)) {
        case 0: { // bit flips anywhere in the metadata
            const int flips = 1 + static_cast<int>(Below(8));
            for (int i = 0; i < flips; ++i) {
                const std::size_t at = MetadataOffset();
                const int bit = static_cast<int>(Below(8));
                m_bytes[at] ^= static_cast<std::uint8_t>(1u << bit);
                Note("flip byte " + std::to_string(at) + " bit " + std::to_string(bit));
            }
            break;
        }
        case 1: { // a block's length
            const BlockLayout& block = AnyBlock();
            const std::uint32_t length = OddLength(block.length) & 0x00FFFFFF;
            PutBigEndian(block.offset + 1, length, 3);
            Note("block at " + std::to_string(block.offset) + " length = " + std::to_string(length));
            break;
        }
        case 2: { // a block's type, or its last-block flag
            const BlockLayout& block = AnyBlock();
            const std::uint8_t type = static_cast<std::uint8_t>(Below(3) == 0 ? Below(128) : Below(7));
            m_bytes[block.offset] = static_cast<std::uint8_t>((m_bytes[block.offset] & 0x80) | type);
            if (Below(4) == 0) {
                m_bytes[block.offset] ^= 0x80;
            }
            Note("block at " + std::to_string(block.offset) +
                 " header byte = " + std::to_string(m_bytes[block.offset]));
            break;
        }
        case 3:
        case 4:
            if (const BlockLayout* block = BlockOfType(VorbisCommentType)) {
                DamageVorbisComment(*block);
            }
            break;
        case 5:
            if (const BlockLayout* block = BlockOfType(VorbisCommentType)) {
                PutCharactersInComments(*block);
            }
            break;
        case 6: { // a picture's inner lengths
            if (const BlockLayout* block = BlockOfType(PictureType)) {
                const std::size_t at = block->offset + 4 + 4 * Below(std::min<std::size_t>(block->length / 4, 8));
                const std::uint32_t value = OddLength(0);
                PutBigEndian(at, value, 4);
                Note("picture field at " + std::to_string(at) + " = " + std::to_string(value));
            }
            break;
        }
        case 7: { // random bytes over a run
            const std::size_t at = MetadataOffset();
            const std::size_t count = 1 + Below(16);
            for (std::size_t i = 0; i < count && at + i < m_bytes.size(); ++i) {
                m_bytes[at + i] = static_cast<std::uint8_t>(m_random());
            }
            Note("random run at " + std::to_string(at) + " of " + std::to_string(count));
            break;
        }
        case 8: { // STREAMINFO fields
            if (const BlockLayout* block = BlockOfType(StreamInfoType)) {
                const std::size_t at = block->offset + 4 + Below(std::max<std::uint32_t>(block->length, 1));
                m_bytes[at] = static_cast<std::uint8_t>(Below(2) == 0 ? 0 : 0xFF);
                Note("STREAMINFO byte " + std::to_string(at) + " = " + std::to_string(m_bytes[at]));
            }
            break;
        }
        default: { // the stream cut inside the metadata or just after it
            m_cut = std::min<std::size_t>(m_cut, Below(m_layout.audioOffset + 64));
            break;
        }
        }
    }

    Bytes m_bytes;
    FlacLayout m_layout;
    std::mt19937_64 m_random;
    std::string m_description;
    std::size_t m_cut = SIZE_MAX;
};

} // namespace

Mutation MutateMetadata(const Bytes& original, std::uint64_t seed)
{
    return Mutator(original, seed).Run();
}
