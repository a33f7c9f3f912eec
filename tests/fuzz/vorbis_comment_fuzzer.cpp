// The Vorbis comment parser alone, over the bytes of a VORBIS_COMMENT block
// as a file holds them (vendor length and string, comment count, each
// comment's length and bytes, lengths little-endian), taken apart the way
// libFLAC's reader does: every comment NUL-terminated after its length, none
// checked. The parse succeeds, stores exactly the comments libFLAC calls legal
// that have a value, and every name it stores is upper-cased and holds no "=".
#include "tags/vorbis_comment.h"
#include "tests/fuzz/fuzz_check.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

bool ReadLength(const std::uint8_t*& data, const std::uint8_t* end, FLAC__uint32& length)
{
    if (end - data < 4) {
        return false;
    }
    length =
        static_cast<FLAC__uint32>(data[0] | data[1] << 8 | data[2] << 16 | static_cast<FLAC__uint32>(data[3]) << 24);
    data += 4;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::uint8_t* const end = data + size;
    FLAC__uint32 vendorLength = 0;
    if (!ReadLength(data, end, vendorLength) || static_cast<std::size_t>(end - data) < vendorLength) {
        return 0;
    }
    data += vendorLength;
    FLAC__uint32 count = 0;
    if (!ReadLength(data, end, count)) {
        return 0;
    }
    std::vector<std::vector<FLAC__byte>> texts;
    for (FLAC__uint32 i = 0; i < count; ++i) {
        FLAC__uint32 length = 0;
        if (!ReadLength(data, end, length) || static_cast<std::size_t>(end - data) < length) {
            break;
        }
        // Exactly length + 1 bytes, as libFLAC allocates them.
        std::vector<FLAC__byte>& text = texts.emplace_back(std::size_t{length} + 1);
        std::copy(data, data + length, text.begin());
        data += length;
    }
    std::vector<FLAC__StreamMetadata_VorbisComment_Entry> comments;
    for (auto& text : texts) {
        comments.push_back({static_cast<FLAC__uint32>(text.size() - 1), text.data()});
    }
    FLAC__StreamMetadata block{};
    block.type = FLAC__METADATA_TYPE_VORBIS_COMMENT;
    block.data.vorbis_comment.num_comments = static_cast<FLAC__uint32>(comments.size());
    block.data.vorbis_comment.comments = comments.data();
    KeyList keys;
    TagStore tags;
    FUZZ_CHECK(ParseVorbisComment(block, keys, tags) == S_OK);
    // The parser judges legality itself: it must store exactly the comments
    // libFLAC calls legal that have a value.
    std::size_t legalWithValue = 0;
    for (const auto& comment : comments) {
        const auto* equals = static_cast<const FLAC__byte*>(std::memchr(comment.entry, '=', comment.length));
        const bool hasValue =
            equals != nullptr && static_cast<std::size_t>(equals - comment.entry) + 1 < comment.length;
        legalWithValue += FLAC__format_vorbiscomment_entry_is_legal(comment.entry, comment.length) && hasValue;
    }
    FUZZ_CHECK(tags.All().size() == legalWithValue);
    for (const TagStore::Entry& entry : tags.All()) {
        for (const char c : tags.NameOf(entry)) {
            FUZZ_CHECK(c != '=' && !(c >= 'a' && c <= 'z'));
        }
        FUZZ_CHECK(!tags.ValueOf(entry).empty());
    }
    return 0;
}
