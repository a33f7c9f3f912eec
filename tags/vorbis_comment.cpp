#include "tags/vorbis_comment.h"

#include "com/atl_exception.h"
#include "tags/field_keys.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

void ListKey(std::string_view upperName, KeyList& keys)
{
    if (const PROPERTYKEY* key = FindFieldKey(upperName)) {
        keys.AddKey(*key);
    }
}

// Whether every byte is ASCII, eight at a time.
bool IsAscii(const FLAC__byte* bytes, std::size_t count) noexcept
{
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes + i, sizeof(word));
        if ((word & 0x8080808080808080ULL) != 0) {
            return false;
        }
    }
    for (; i < count; ++i) {
        if (bytes[i] >= 0x80) {
            return false;
        }
    }
    return true;
}

// The length of the comment's name when it is a legal Vorbis comment, as
// libFLAC's FLAC__format_vorbiscomment_entry_is_legal judges it (a name of
// bytes 0x20 to 0x7D up to the first "=", then UTF-8 as libFLAC reads it),
// else -1. Most values are ASCII, which is always legal, and are not walked
// a character at a time.
std::ptrdiff_t LegalNameLength(const FLAC__StreamMetadata_VorbisComment_Entry& comment) noexcept
{
    const FLAC__byte* const entry = comment.entry;
    const std::size_t length = comment.length;
    std::size_t name = 0;
    for (; name < length && entry[name] != '='; ++name) {
        if (entry[name] < 0x20 || entry[name] > 0x7D) {
            return -1;
        }
    }
    if (name == length) {
        return -1;
    }
    const FLAC__byte* const value = entry + name + 1;
    const auto valueLength = static_cast<FLAC__uint32>(length - name - 1);
    if (!IsAscii(value, valueLength) && !FLAC__format_vorbiscomment_entry_value_is_legal(value, valueLength)) {
        return -1;
    }
    return static_cast<std::ptrdiff_t>(name);
}

void ParseComment(const FLAC__StreamMetadata_VorbisComment_Entry& comment, KeyList& keys, TagStore& tags)
{
    const std::ptrdiff_t legalName = LegalNameLength(comment);
    if (legalName < 0) {
        return;
    }
#ifdef QUILLBROOK_PLANTED_OVERREAD
    // A deliberate fault, compiled only into a test build of the fuzz
    // targets (tests/fuzz): a comment named "QBPL..." is read one byte past
    // its end, which the sanitizer and fuzzer runs must catch. (The name is
    // compared as one 32-bit word, which libFuzzer's comparison tracing
    // sees; a fault in the wild is not so kind.)
    std::uint32_t head = 0;
    if (comment.length >= sizeof(head)) {
        std::memcpy(&head, comment.entry, sizeof(head));
        if (head == 0x4C504251u) { // "QBPL"
            const volatile FLAC__byte past = comment.entry[comment.length + 1];
            static_cast<void>(past);
        }
    }
#endif
    const auto* text = reinterpret_cast<const char*>(comment.entry);
    const auto nameLength = static_cast<std::size_t>(legalName);
    const std::string_view name(text, nameLength);
    const std::string_view value(text + nameLength + 1, comment.length - nameLength - 1);
    if (!value.empty()) {
        ListKey(tags.AddFolded(name, value), keys);
        return;
    }
    // An empty value stores nothing, but the field still counts.
    char folded[16]; // room for every name with a key
    if (nameLength <= sizeof(folded)) {
        std::transform(name.begin(), name.end(), folded, UpperAscii);
        ListKey(std::string_view(folded, nameLength), keys);
    }
}

} // namespace

HRESULT ParseVorbisComment(const FLAC__StreamMetadata& block, KeyList& keys, TagStore& tags) noexcept
{
    return GuardHResult([&]() -> HRESULT {
        const FLAC__StreamMetadata_VorbisComment& comments = block.data.vorbis_comment;
        const FLAC__uint32 count = comments.num_comments;
        std::size_t textBytes = 0;
        for (FLAC__uint32 i = 0; i < count; ++i) {
            textBytes += comments.comments[i].length;
        }
        tags.Reserve(count, textBytes);
        for (FLAC__uint32 i = 0; i < count; ++i) {
            ParseComment(comments.comments[i], keys, tags);
        }
        tags.Sort();
        return S_OK;
    });
}
