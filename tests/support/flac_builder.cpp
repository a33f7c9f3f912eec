#include "tests/support/flac_builder.h"

void AppendBigEndian(Bytes& out, std::uint64_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

void AppendLittleEndian(Bytes& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

FlacBuilder& FlacBuilder::Id3v2Prefix(std::uint32_t bodySize)
{
    m_prefix.clear();
    for (std::uint8_t byte : {'I', 'D', '3', '\x04', '\0', '\0'}) {
        m_prefix.push_back(byte);
    }
    // Syncsafe size: 7 bits per byte.
    for (int shift = 21; shift >= 0; shift -= 7) {
        m_prefix.push_back(static_cast<std::uint8_t>((bodySize >> shift) & 0x7F));
    }
    m_prefix.insert(m_prefix.end(), bodySize, 0);
    return *this;
}

FlacBuilder& FlacBuilder::StreamInfo(const StreamInfoFields& fields)
{
    Bytes body;
    AppendBigEndian(body, 4096, 2); // min block size
    AppendBigEndian(body, 4096, 2); // max block size
    AppendBigEndian(body, 0, 3);    // min frame size
    AppendBigEndian(body, 0, 3);    // max frame size
    // 20 bits rate, 3 bits channels-1, 5 bits bps-1, 36 bits total samples.
    std::uint64_t packed = (std::uint64_t{fields.sampleRate} & 0xFFFFF) << 44;
    packed |= (std::uint64_t{fields.channels - 1} & 0x7) << 41;
    packed |= (std::uint64_t{fields.bitsPerSample - 1} & 0x1F) << 36;
    packed |= fields.totalSamples & 0xFFFFFFFFFULL;
    AppendBigEndian(body, packed, 8);
    body.insert(body.end(), 16, 0); // MD5
    return Block(0, body);
}

FlacBuilder& FlacBuilder::VorbisComment(const std::vector<std::string>& comments, const std::string& vendor)
{
    Bytes body;
    AppendLittleEndian(body, static_cast<std::uint32_t>(vendor.size()));
    body.insert(body.end(), vendor.begin(), vendor.end());
    AppendLittleEndian(body, static_cast<std::uint32_t>(comments.size()));
    for (const auto& comment : comments) {
        AppendLittleEndian(body, static_cast<std::uint32_t>(comment.size()));
        body.insert(body.end(), comment.begin(), comment.end());
    }
    return Block(4, body);
}

FlacBuilder& FlacBuilder::Padding(std::uint32_t length)
{
    return Block(1, Bytes(length, 0));
}

FlacBuilder& FlacBuilder::Picture(std::uint32_t pictureType, const std::string& mime, const Bytes& data,
                                  const std::string& description)
{
    Bytes body;
    AppendBigEndian(body, pictureType, 4);
    AppendBigEndian(body, mime.size(), 4);
    body.insert(body.end(), mime.begin(), mime.end());
    AppendBigEndian(body, description.size(), 4);
    body.insert(body.end(), description.begin(), description.end());
    AppendBigEndian(body, 1, 4);  // width
    AppendBigEndian(body, 1, 4);  // height
    AppendBigEndian(body, 24, 4); // depth
    AppendBigEndian(body, 0, 4);  // colours
    AppendBigEndian(body, data.size(), 4);
    body.insert(body.end(), data.begin(), data.end());
    return Block(6, body);
}

FlacBuilder& FlacBuilder::Block(std::uint8_t type, const Bytes& body)
{
    m_blocks.push_back({type, body});
    return *this;
}

FlacBuilder& FlacBuilder::Audio(const Bytes& bytes)
{
    m_audio.insert(m_audio.end(), bytes.begin(), bytes.end());
    return *this;
}

FlacBuilder& FlacBuilder::Audio(std::size_t count, std::uint8_t seed)
{
    std::uint32_t state = seed;
    for (std::size_t i = 0; i < count; ++i) {
        state = state * 1103515245u + 12345u;
        m_audio.push_back(static_cast<std::uint8_t>(state >> 16));
    }
    return *this;
}

Bytes FlacBuilder::Build() const
{
    Bytes out = m_prefix;
    for (char c : {'f', 'L', 'a', 'C'}) {
        out.push_back(static_cast<std::uint8_t>(c));
    }
    for (std::size_t i = 0; i < m_blocks.size(); ++i) {
        const bool last = i + 1 == m_blocks.size();
        out.push_back(static_cast<std::uint8_t>((last ? 0x80 : 0) | m_blocks[i].type));
        AppendBigEndian(out, m_blocks[i].body.size(), 3);
        out.insert(out.end(), m_blocks[i].body.begin(), m_blocks[i].body.end());
    }
    out.insert(out.end(), m_audio.begin(), m_audio.end());
    return out;
}
