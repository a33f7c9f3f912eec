// Reading tag properties through IPropertyStore: the three value shapes, the
// album-artist fallback, number parsing and the keys a file lists.
#include "handler/property_bindings.h"
#include "tags/field_keys.h"
#include "tags/parse_uint32.h"
#include "tests/support/handler_helpers.h"
#include "tests/support/property_values.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

using namespace std::string_literals;

Bytes TaggedFlac(const std::vector<std::string>& comments)
{
    return FlacBuilder().StreamInfo().VorbisComment(comments).Padding(64).Audio(200).Build();
}

struct Tagged : LoadedHandler {
    explicit Tagged(const std::vector<std::string>& comments) : LoadedHandler(TaggedFlac(comments)) {}
    std::wstring operator[](const PROPERTYKEY& key) const { return ValueOf(store.Get(), key); }
};

TEST(TagShapes, EachKindHandsOutItsOwnShape)
{
    Tagged h({"ARTIST=Ada", "ARTIST=Charles", "TITLE=First", "TITLE=Second", "TRACKNUMBER=7", "DISCNUMBER=1/2"});
    ASSERT_EQ(h.result, S_OK);
    EXPECT_EQ(h[PKEY_Music_Artist], L"v:Ada|Charles");
    EXPECT_EQ(h[PKEY_Title], L"s:First");
    EXPECT_EQ(h[PKEY_Music_TrackNumber], L"u:7");
    EXPECT_EQ(h[PKEY_Music_PartOfSet], L"s:1/2") << "the part of a set is text";
}

TEST(TagShapes, AbsentFieldsAnswerEmptyForEveryKind)
{
    Tagged h({"MYFIELD=x"});
    for (const SetterBinding& row : SetterTable) {
        EXPECT_EQ(h[row.key], L"empty");
    }
    auto bare = LoadedHandler(FlacBuilder().StreamInfo().Audio(10).Build());
    EXPECT_EQ(ValueOf(bare.store.Get(), PKEY_Music_Genre), L"empty") << "no VORBIS_COMMENT block at all";
}

TEST(TagShapes, EveryFieldNameAnswersThroughItsKey)
{
    for (const FieldKeyEntry& row : FieldKeyTable) {
        Tagged h({std::string(row.name) + "=12"});
        ASSERT_EQ(h.Keys().size(), 9u) << row.name;
        const std::wstring value = h[row.key];
        EXPECT_TRUE(value == L"s:12" || value == L"v:12" || value == L"u:12") << row.name << ": " << Narrow(value);
    }
}

TEST(TagMultiValues, VectorsLeaveOutEmptyValues)
{
    auto store = NewPropertyHandler();
    auto stream = MemoryStream::Create(TaggedFlac({"GENRE=Jazz", "GENRE=Funk"}));
    ASSERT_EQ(InitializeWith(store.Get(), stream.Get()), S_OK);
    PROPVARIANT withEmpty{};
    PCWSTR texts[] = {L"Rock", L"", L"Pop"};
    ASSERT_EQ(InitPropVariantFromStringVector(texts, 3, &withEmpty), S_OK);
    ASSERT_EQ(store->SetValue(PKEY_Music_Genre, withEmpty), S_OK);
    PropVariantClear(&withEmpty);
    EXPECT_EQ(ValueOf(store.Get(), PKEY_Music_Genre), L"v:Rock|Pop");
}

TEST(TagMultiValues, VectorsHoldEveryValueHoweverMany)
{
    // Few values are gathered on the stack, more on the heap: both in order.
    for (const int count : {16, 17, 40}) {
        std::vector<std::string> comments;
        std::wstring expected = L"v:";
        for (int i = 0; i < count; ++i) {
            comments.push_back("ARTIST=a" + std::to_string(i));
            expected += (i == 0 ? L"a" : L"|a") + std::to_wstring(i);
        }
        Tagged h(comments);
        EXPECT_EQ(h[PKEY_Music_Artist], expected) << count;
    }
}

TEST(TagMultiValues, StringKindsTakeTheFirstNonEmptyValue)
{
    auto store = NewPropertyHandler();
    auto stream = MemoryStream::Create(TaggedFlac({}));
    ASSERT_EQ(InitializeWith(store.Get(), stream.Get()), S_OK);
    PROPVARIANT values{};
    PCWSTR texts[] = {L"", L"Second", L"Third"};
    ASSERT_EQ(InitPropVariantFromStringVector(texts, 3, &values), S_OK);
    store->SetValue(PKEY_Title, values);
    store->SetValue(PKEY_Music_TrackNumber, values);
    PropVariantClear(&values);
    EXPECT_EQ(ValueOf(store.Get(), PKEY_Title), L"s:Second");
    EXPECT_EQ(ValueOf(store.Get(), PKEY_Music_TrackNumber), L"empty") << "only the first non-empty value is parsed";
}

TEST(TagMultiValues, NulEndsTheHandedOutTextButALeadingNulIsNotEmpty)
{
    Tagged h({"TITLE=ab\0cd"s, "ARTIST=x\0y"s, "ARTIST=\0z"s, "ALBUM=\0lead"s, "ALBUM=later", "RATING=\0"s});
    EXPECT_EQ(h[PKEY_Title], L"s:ab");
    EXPECT_EQ(h[PKEY_Music_Artist], L"v:x|");
    EXPECT_EQ(h[PKEY_Music_AlbumTitle], L"s:") << "a value of length 1 is not skipped";
    EXPECT_EQ(h[PKEY_Rating], L"u:0");
}

TEST(AlbumArtistFallback, AlbumArtistThenAlbumSpaceArtistThenBand)
{
    EXPECT_EQ(Tagged({"BAND=B", "ALBUM ARTIST=S", "ALBUMARTIST=A"})[PKEY_Music_AlbumArtist], L"s:A");
    EXPECT_EQ(Tagged({"BAND=B", "album artist=S"})[PKEY_Music_AlbumArtist], L"s:S");
    EXPECT_EQ(Tagged({"Band=B1", "BAND=B2"})[PKEY_Music_AlbumArtist], L"s:B1");
    EXPECT_EQ(Tagged({"ALBUMARTIST=", "BAND=B"})[PKEY_Music_AlbumArtist], L"s:B") << "empty values are passed over";
}

TEST(AlbumArtistFallback, EveryAlternateNameListsTheKeyOnce)
{
    Tagged h({"BAND=B", "ALBUMARTIST=A", "ALBUM ARTIST=S"});
    const auto keys = h.Keys();
    EXPECT_EQ(std::count(keys.begin(), keys.end(), PKEY_Music_AlbumArtist), 1);
    EXPECT_EQ(keys.size(), 9u);
}

TEST(TagKeyList, TagKeysSortAmongTheAudioKeys)
{
    Tagged h({"TITLE=t", "artist=a", "ARTIST=b", "DATE=2007-09-17", "MYFIELD=m"});
    const std::vector<PROPERTYKEY> expected = {
        PKEY_Music_Artist,
        PKEY_Media_Year,
        PKEY_Audio_Format,
        PKEY_Media_Duration,
        PKEY_Audio_EncodingBitrate,
        PKEY_Audio_SampleRate,
        PKEY_Audio_SampleSize,
        PKEY_Audio_ChannelCount,
        PKEY_Title,
        PKEY_DRM_IsProtected,
        PKEY_Audio_IsVariableBitRate,
    };
    EXPECT_EQ(h.Keys(), expected);
    EXPECT_EQ(h[PKEY_Media_Year], L"empty") << "a listed key may still answer empty";
}

TEST(NumberParsing, AcceptsPlainDecimalsWithSurroundingWhiteSpace)
{
    const std::pair<const wchar_t*, ULONG> accepted[] = {
        {L"7", 7},
        {L" 7 ", 7},
        {L"007", 7},
        {L"\t42\r\n", 42},
        {L"0", 0},
        {L"   ", 0},
        {L"", 0},
        {L"4294967295", 4294967295u},
        {L"0004294967295", 4294967295u},
        {L"2007", 2007},
    };
    for (const auto& [text, number] : accepted) {
        ULONG value = 123;
        EXPECT_TRUE(ParseUInt32(text, value)) << Narrow(text);
        EXPECT_EQ(value, number) << Narrow(text);
    }
}

TEST(NumberParsing, RefusesEverythingElse)
{
    for (const wchar_t* text : {L"3/12", L"2007-09-17", L"4294967296", L"99999999999", L"42949672950", L"+7", L"-7",
                                L"7a", L"x7", L"7 7", L"\xFF17", L"\x0667", L"1.5", L"0x10"}) {
        ULONG value = 0;
        EXPECT_FALSE(ParseUInt32(text, value)) << Narrow(text);
    }
}

TEST(NumberParsing, PropertiesReadTheFirstNonEmptyValueUnscaled)
{
    EXPECT_EQ(Tagged({"RATING=99"})[PKEY_Rating], L"u:99");
    EXPECT_EQ(Tagged({"RATING=5"})[PKEY_Rating], L"u:5");
    EXPECT_EQ(Tagged({"DATE=2007"})[PKEY_Media_Year], L"u:2007");
    EXPECT_EQ(Tagged({"DATE=2007-09-17"})[PKEY_Media_Year], L"empty");
    EXPECT_EQ(Tagged({"TRACKNUMBER=3/12"})[PKEY_Music_TrackNumber], L"empty");
    EXPECT_EQ(Tagged({"TRACKNUMBER= "})[PKEY_Music_TrackNumber], L"u:0");
    EXPECT_EQ(Tagged({"TRACKNUMBER=", "TRACKNUMBER=5"})[PKEY_Music_TrackNumber], L"u:5");
    EXPECT_EQ(Tagged({"TRACKNUMBER=5", "TRACKNUMBER=6"})[PKEY_Music_TrackNumber], L"u:5");
    EXPECT_EQ(Tagged({"TRACKNUMBER=x", "TRACKNUMBER=6"})[PKEY_Music_TrackNumber], L"empty");
    EXPECT_EQ(Tagged({"TRACKNUMBER=\xEF\xBC\x97"})[PKEY_Music_TrackNumber], L"empty") << "full-width seven";
}

} // namespace
