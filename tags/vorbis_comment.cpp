#include "tags/vorbis_comment.h"

#include "com/atl_exception.h"
#include "tags/field_keys.h"
#include "tags/utf8.h"

#include <cstdint>
#include <cstring>

namespace {

void ParseComment(const FLAC__StreamMetadata_VorbisComment_Entry& comment, KeyList& keys, TagMap& tags)
{
    if (!FLAC__format_vorbiscomment_entry_is_legal(comment.entry, comment.length)) {
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
    // A legal comment holds an "=" after the name.
    const auto* text = reinterpret_cast<const char*>(comment.entry);
    const auto* equals = static_cast<const char*>(std::memchr(text, '=', comment.length));
    // Upper case as toupper gives it in the "C" locale: only a to z change.
    // (The runtime's toupper looks up the thread's locale for every byte.)
    std::string name(text, equals);
    for (char& c : name) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    const char* value = equals + 1;
    const std::size_t valueLength = comment.length - static_cast<std::size_t>(value - text);
    try {
        std::wstring wide = Utf8ToWide(value, valueLength);
        tags[name].push_back(std::move(wide));
    } catch (const CAtlException&) {
        // An empty or unconvertible value is dropped; the field still counts.
    }
    if (const PROPERTYKEY* key = FindFieldKey(name)) {
        keys.AddKey(*key);
    }
}

} // namespace

HRESULT ParseVorbisComment(const FLAC__StreamMetadata& block, KeyList& keys, TagMap& tags) noexcept
{
    return GuardHResult([&]() -> HRESULT {
        const FLAC__StreamMetadata_VorbisComment& comments = block.data.vorbis_comment;
        const FLAC__uint32 count = comments.num_comments;
        for (FLAC__uint32 i = 0; i < count; ++i) {
            ParseComment(comments.comments[i], keys, tags);
        }
        return S_OK;
    });
}
