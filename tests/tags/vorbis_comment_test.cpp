// Parsing Vorbis comments into the tag store: name folding, multi-values,
// skipped comments, listed keys, and the UTF-8 to UTF-16 conversion.
#include "com/atl_exception.h"
#include "tags/field_keys.h"
#include "tags/utf8.h"
#include "tags/vorbis_comment.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using Texts = std::vector<std::string>;

// A VORBIS_COMMENT block as libFLAC hands it over, over our own comment bytes.
struct CommentBlock {
    explicit CommentBlock(std::vector<std::string> comments) : texts(std::move(comments))
    {
        for (std::string& text : texts) {
            entries.push_back({static_cast<FLAC__uint32>(text.size()), reinterpret_cast<FLAC__byte*>(text.data())});
        }
        block.type = FLAC__METADATA_TYPE_VORBIS_COMMENT;
        block.data.vorbis_comment.vendor_string = {6, vendor};
        block.data.vorbis_comment.num_comments = static_cast<FLAC__uint32>(entries.size());
        block.data.vorbis_comment.comments = entries.data();
    }

    std::vector<std::string> texts;
    std::vector<FLAC__StreamMetadata_VorbisComment_Entry> entries;
    FLAC__byte vendor[7] = "vendor";
    FLAC__StreamMetadata block{};
};

struct Parsed {
    explicit Parsed(std::vector<std::string> comments)
    {
        CommentBlock input(std::move(comments));
        result = ParseVorbisComment(input.block, keys, tags);
    }
    // The distinct names, in store order.
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const TagStore::Entry& entry : tags.All()) {
            if (names.empty() || names.back() != tags.NameOf(entry)) {
                names.emplace_back(tags.NameOf(entry));
            }
        }
        return names;
    }
    std::vector<std::string> Values(std::string_view name) const
    {
        std::vector<std::string> values;
        for (const TagStore::Entry& entry : tags.Field(name)) {
            values.emplace_back(tags.ValueOf(entry));
        }
        return values;
    }
    std::vector<PROPERTYKEY> Keys() const
    {
        std::vector<PROPERTYKEY> list;
        for (std::size_t i = 0; i < keys.Count(); ++i) {
            list.push_back(keys.At(i));
        }
        return list;
    }

    HRESULT result = E_FAIL;
    KeyList keys;
    TagStore tags;
};

TEST(VorbisCommentNames, AnyCapitalisationFoldsIntoOneUpperCaseListInFileOrder)
{
    Parsed p({"artist=A", "TITLE=T", "ARTIST=B", "Artist=C"});
    ASSERT_EQ(p.result, S_OK);
    EXPECT_EQ(p.Names(), (Texts{"ARTIST", "TITLE"}));
    EXPECT_EQ(p.Values("ARTIST"), (Texts{"A", "B", "C"}));
    EXPECT_EQ(p.Values("TITLE"), (Texts{"T"}));
    EXPECT_EQ(p.Keys(), (std::vector<PROPERTYKEY>{PKEY_Music_Artist, PKEY_Title}));
}

TEST(VorbisCommentNames, MapOrderIsByteOrderWithShorterNamesFirst)
{
    Parsed p({"BAND=3", "ALBUMARTIST=2", "ALBUM ARTIST=1", "ALBUM=0", "album_x=4"});
    EXPECT_EQ(p.Names(), (Texts{"ALBUM", "ALBUM ARTIST", "ALBUMARTIST", "ALBUM_X", "BAND"}));
    EXPECT_EQ(p.Keys(), (std::vector<PROPERTYKEY>{PKEY_Music_AlbumTitle, PKEY_Music_AlbumArtist}))
        << "three album-artist names list their shared key once";
}

TEST(VorbisCommentNames, UnknownAndEmptyNamesAreKeptButListNoKey)
{
    Parsed p({"MYFIELD=x", "=nameless", "COMMENT=a=b"});
    ASSERT_EQ(p.result, S_OK);
    EXPECT_EQ(p.Values("MYFIELD"), (Texts{"x"}));
    EXPECT_EQ(p.Values(""), (Texts{"nameless"}));
    EXPECT_EQ(p.Values("COMMENT"), (Texts{"a=b"})) << "only the first = separates";
    EXPECT_EQ(p.Keys(), (std::vector<PROPERTYKEY>{PKEY_Comment}));
}

TEST(VorbisCommentSkipping, IllegalCommentsLeaveNoTrace)
{
    Parsed p({"TITLE", "", "TI\tTLE=x", "T~TLE=x", "TITLE=\xFF\xFE", "GENRE=ok"});
    ASSERT_EQ(p.result, S_OK);
    EXPECT_EQ(p.Names(), (Texts{"GENRE"}));
    EXPECT_EQ(p.Values("GENRE"), (Texts{"ok"}));
    EXPECT_EQ(p.Keys(), (std::vector<PROPERTYKEY>{PKEY_Music_Genre}));
}

TEST(VorbisCommentSkipping, EmptyValueStoresNothingButListsTheKey)
{
    Parsed p({"TITLE=", "ARTIST=", "ARTIST=x"});
    ASSERT_EQ(p.result, S_OK);
    EXPECT_EQ(p.Names(), (Texts{"ARTIST"}));
    EXPECT_EQ(p.Values("ARTIST"), (Texts{"x"}));
    EXPECT_EQ(p.Keys(), (std::vector<PROPERTYKEY>{PKEY_Music_Artist, PKEY_Title}));
}

TEST(VorbisCommentSkipping, NoCommentsGiveAnEmptyMap)
{
    Parsed p({});
    EXPECT_EQ(p.result, S_OK);
    EXPECT_TRUE(p.tags.Empty());
    EXPECT_EQ(p.keys.Count(), 0u);
}

TEST(VorbisCommentValues, NulInsideAValueIsKeptWhole)
{
    Parsed p({"TITLE=a\0b"s, "COMMENT=\0lead"s});
    EXPECT_EQ(p.Values("TITLE"), (Texts{"a\0b"s}));
    EXPECT_EQ(p.Values("COMMENT"), (Texts{"\0lead"s}));
}

TEST(Utf8ToTaskString, ConvertsAsUtf8ToWideAndTakesAnEmptyValue)
{
    for (const auto& [bytes, expected] :
         {std::pair<std::string, std::wstring>{"Symphonies \xF0\x9F\x8E\xBB", L"Symphonies \xD83C\xDFBB"},
          {"\xE4\xBA\xA4\xE9\x9F\xBF", L"\x4EA4\x97FF"},
          {"Dvo\xC5\x99\xC3\xA1k", L"Dvo\x0159\x00E1k"},
          {"a\xC3z", L"a\xFFFDz"},
          {"", L""}}) {
        PWSTR text = nullptr;
        ASSERT_EQ(Utf8ToTaskString(bytes, &text), S_OK) << bytes;
        EXPECT_EQ(std::wstring(text), expected) << bytes;
        CoTaskMemFree(text);
    }
}

TEST(Utf8ToWideConversion, EmptyInputIsRefusedBySystem)
{
    try {
        Utf8ToWide("x", 0);
        ADD_FAILURE() << "an empty conversion must throw";
    } catch (const CAtlException& e) {
        EXPECT_EQ(e.m_hr, HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER));
    }
}

TEST(Utf8ToWideConversion, CountsBeyondInt32AreRefusedBeforeReading)
{
    try {
        Utf8ToWide(nullptr, 0x80000000ULL);
        ADD_FAILURE() << "an oversized count must throw";
    } catch (const CAtlException& e) {
        EXPECT_EQ(e.m_hr, E_UNEXPECTED);
    }
}

TEST(Utf8ToWideConversion, IllFormedBytesBecomeReplacementCharacters)
{
    const std::wstring wide = Utf8ToWide("a\xC3z", 3);
    EXPECT_EQ(wide.front(), L'a');
    EXPECT_EQ(wide.back(), L'z');
    EXPECT_NE(wide.find(L'\xFFFD'), std::wstring::npos);
}

TEST(Utf8ToWideConversion, EveryFormAtItsBoundsConvertsAsTheSystemDoes)
{
    // Shortest and longest of each length, a NUL inside, and the ill-formed
    // neighbours: overlong, surrogate, above U+10FFFF, cut short.
    for (const std::string& bytes :
         {std::string("a\0b", 3), std::string("\xC2\x80\xDF\xBF"), std::string("\xE0\xA0\x80\xEF\xBF\xBF"),
          std::string("\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"), std::string("\xC0\x80x"), std::string("\xE0\x80\x80"),
          std::string("\xED\xA0\x80"), std::string("\xF4\x90\x80\x80"), std::string("\xE4\xBA"),
          std::string("\xF8\x88\x80\x80\x80"), std::string("x\xBF")}) {
        const int count = static_cast<int>(bytes.size());
        std::wstring expected(bytes.size(), L'\0');
        expected.resize(
            static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), count, expected.data(), count)));
        EXPECT_EQ(Utf8ToWide(bytes.data(), bytes.size()), expected) << bytes;
    }
}

TEST(FieldKeyLookup, MatchesWholeUpperCaseNamesOnly)
{
    ASSERT_EQ(FieldKeyTable.size(), 16u);
    for (const FieldKeyEntry& row : FieldKeyTable) {
        const PROPERTYKEY* key = FindFieldKey(row.name);
        ASSERT_NE(key, nullptr) << row.name;
        EXPECT_TRUE(KeysEqual(*key, row.key)) << row.name;
    }
    for (const char* name : {"album", "ALBUMARTISTS", "ALBUM ", "", "TRACK", "ZZZ", " "}) {
        EXPECT_EQ(FindFieldKey(name), nullptr) << '"' << name << '"';
    }
    EXPECT_TRUE(KeysEqual(*FindFieldKey("BAND"), PKEY_Music_AlbumArtist));
}

} // namespace
