// Builds FLAC streams byte by byte: metadata blocks in any order, with chosen
// contents, an optional ID3v2 prefix and arbitrary bytes after the metadata.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

struct StreamInfoFields {
    unsigned sampleRate = 44100;
    unsigned channels = 2;
    unsigned bitsPerSample = 16;
    std::uint64_t totalSamples = 44100;
};

class FlacBuilder {
public:
    // An ID3v2 tag of `bodySize` bytes in front of the "fLaC" marker.
    FlacBuilder& Id3v2Prefix(std::uint32_t bodySize);
    FlacBuilder& StreamInfo(const StreamInfoFields& fields = {});
    FlacBuilder& VorbisComment(const std::vector<std::string>& comments, const std::string& vendor = "test vendor");
    FlacBuilder& Padding(std::uint32_t length);
    FlacBuilder& Picture(std::uint32_t pictureType, const std::string& mime, const Bytes& data,
                         const std::string& description = "");
    // A block of any type with the given body.
    FlacBuilder& Block(std::uint8_t type, const Bytes& body);
    // Bytes after the metadata (stand-in for audio frames).
    FlacBuilder& Audio(const Bytes& bytes);
    FlacBuilder& Audio(std::size_t count, std::uint8_t seed = 1);

    // The stream, with the last-block flag on the final block.
    Bytes Build() const;

private:
    struct RawBlock {
        std::uint8_t type;
        Bytes body;
    };
    Bytes m_prefix;
    std::vector<RawBlock> m_blocks;
    Bytes m_audio;
};

void AppendBigEndian(Bytes& out, std::uint64_t value, int bytes);
void AppendLittleEndian(Bytes& out, std::uint32_t value);
