// Writing tag properties through IPropertyStore::SetValue: every accepted
// value type, removal, the album-artist names, null pointers, and the key
// list staying as the file gave it.
#include "handler/property_bindings.h"
#include "tests/support/handler_helpers.h"
#include "tests/support/property_values.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Writable : LoadedHandler {
    explicit Writable(const std::vector<std::string>& comments)
        : LoadedHandler(FlacBuilder().StreamInfo().VorbisComment(comments).Padding(64).Audio(200).Build())
    {
    }
    std::wstring operator[](const PROPERTYKEY& key) const { return ValueOf(store.Get(), key); }

    HRESULT Set(const PROPERTYKEY& key, const PROPVARIANT& value) { return store->SetValue(key, value); }
    HRESULT SetText(const PROPERTYKEY& key, PCWSTR text)
    {
        PROPVARIANT value{};
        value.vt = VT_LPWSTR;
        value.pwszVal = const_cast<PWSTR>(text);
        return Set(key, value);
    }
    HRESULT SetNumber(const PROPERTYKEY& key, ULONG number)
    {
        PROPVARIANT value{};
        value.vt = VT_UI4;
        value.ulVal = number;
        return Set(key, value);
    }
    HRESULT SetTexts(const PROPERTYKEY& key, std::vector<PCWSTR> texts)
    {
        PROPVARIANT value{};
        value.vt = VT_VECTOR | VT_LPWSTR;
        value.calpwstr.cElems = static_cast<ULONG>(texts.size());
        value.calpwstr.pElems = const_cast<LPWSTR*>(texts.data());
        return Set(key, value);
    }
};

TEST(TagSetterTypes, NumbersAreStoredAsPlainDecimalText)
{
    Writable h({"TITLE=old"});
    EXPECT_EQ(h.SetNumber(PKEY_Title, 0), S_OK);
    EXPECT_EQ(h[PKEY_Title], L"s:0");
    h.SetNumber(PKEY_Title, 4294967295u);
    EXPECT_EQ(h[PKEY_Title], L"s:4294967295");
    h.SetNumber(PKEY_Music_Artist, 1843);
    EXPECT_EQ(h[PKEY_Music_Artist], L"v:1843");
    h.SetNumber(PKEY_Rating, 99);
    EXPECT_EQ(h[PKEY_Rating], L"u:99");
}

TEST(TagSetterTypes, TextIsStoredUnchangedAndNeverSplit)
{
    Writable h({"DATE=2007-09-17", "ARTIST=a", "ARTIST=b"});
    h.SetText(PKEY_Comment, L"  spaced  ");
    EXPECT_EQ(h[PKEY_Comment], L"s:  spaced  ");
    h.SetText(PKEY_Music_Artist, L"one; two");
    EXPECT_EQ(h[PKEY_Music_Artist], L"v:one; two");
    h.SetText(PKEY_Media_Year, L"2007");
    EXPECT_EQ(h[PKEY_Media_Year], L"u:2007") << "the full date is replaced by the year";
    h.SetText(PKEY_Music_TrackNumber, L" 12 ");
    EXPECT_EQ(h[PKEY_Music_TrackNumber], L"u:12");
}

TEST(TagSetterTypes, VectorsReplaceAllValuesInElementOrder)
{
    Writable h({"ARTIST=a", "ARTIST=b", "ARTIST=c", "ARTIST=d"});
    EXPECT_EQ(h.SetTexts(PKEY_Music_Artist, {L"x", L"y", L"z"}), S_OK);
    EXPECT_EQ(h[PKEY_Music_Artist], L"v:x|y|z");
    h.SetTexts(PKEY_Title, {L"first", L"second"});
    EXPECT_EQ(h[PKEY_Title], L"s:first");
}

TEST(TagSetterTypes, EverySetterKeyStoresIntoTheFieldItsGetterReads)
{
    Writable h({});
    ASSERT_EQ(SetterTable.size(), 14u);
    for (const SetterBinding& row : SetterTable) {
        ASSERT_EQ(h.SetTexts(row.key, {L"12"}), S_OK);
        const std::wstring value = h[row.key];
        EXPECT_TRUE(value == L"s:12" || value == L"v:12" || value == L"u:12") << Narrow(value);
    }
}

TEST(TagRemoval, EmptyValuesAndOtherTypesRemoveTheField)
{
    PROPVARIANT empty{};
    PROPVARIANT big{};
    big.vt = VT_UI8;
    big.uhVal.QuadPart = 5;
    PROPVARIANT flag{};
    flag.vt = VT_BOOL;
    flag.boolVal = VARIANT_TRUE;
    for (const PROPVARIANT* value : {&empty, &big, &flag}) {
        Writable h({"GENRE=Jazz"});
        EXPECT_EQ(h.Set(PKEY_Music_Genre, *value), S_OK);
        EXPECT_EQ(h[PKEY_Music_Genre], L"empty") << value->vt;
    }
    Writable h({"GENRE=Jazz"});
    EXPECT_EQ(h.SetTexts(PKEY_Music_Genre, {}), S_OK);
    EXPECT_EQ(h[PKEY_Music_Genre], L"empty");
}

TEST(TagRemoval, EmptyTextStoresOneEmptyValueThatReadsEmpty)
{
    Writable h({"TITLE=Old"});
    EXPECT_EQ(h.SetText(PKEY_Title, L""), S_OK);
    EXPECT_EQ(h[PKEY_Title], L"empty");
}

TEST(TagRemoval, AlbumArtistWritesTheFirstNameAndRemovesTheOthers)
{
    Writable h({"BAND=B"});
    h.SetText(PKEY_Music_AlbumArtist, L"New");
    EXPECT_EQ(h[PKEY_Music_AlbumArtist], L"s:New");
    // An empty value under ALBUMARTIST reads as nothing, so a surviving
    // BAND or ALBUM ARTIST would show through.
    Writable both({"BAND=B", "ALBUM ARTIST=S", "ALBUMARTIST=A"});
    both.SetText(PKEY_Music_AlbumArtist, L"");
    EXPECT_EQ(both[PKEY_Music_AlbumArtist], L"empty");
    Writable removed({"BAND=B", "ALBUM ARTIST=S"});
    PROPVARIANT empty{};
    removed.Set(PKEY_Music_AlbumArtist, empty);
    EXPECT_EQ(removed[PKEY_Music_AlbumArtist], L"empty");
}

TEST(TagSetterNullPointers, NullTextsAreTakenAsEmptyTexts)
{
    Writable h({"TITLE=Old", "ARTIST=a"});
    EXPECT_EQ(h.SetText(PKEY_Title, nullptr), S_OK);
    EXPECT_EQ(h[PKEY_Title], L"empty");
    EXPECT_EQ(h.SetTexts(PKEY_Music_Artist, {L"x", nullptr, L"z"}), S_OK);
    EXPECT_EQ(h[PKEY_Music_Artist], L"v:x|z");
}

TEST(TagSetterNullPointers, VectorWithoutElementArrayIsRefusedAndChangesNothing)
{
    Writable h({"ARTIST=a"});
    PROPVARIANT broken{};
    broken.vt = VT_VECTOR | VT_LPWSTR;
    broken.calpwstr.cElems = 2;
    EXPECT_EQ(h.Set(PKEY_Music_Artist, broken), E_INVALIDARG);
    EXPECT_EQ(h[PKEY_Music_Artist], L"v:a");
}

TEST(TagSetterKeyList, SettersNeverChangeTheListedKeys)
{
    Writable h({"TITLE=t"});
    const auto before = h.Keys();
    h.SetText(PKEY_Music_Composer, L"Bach");
    EXPECT_EQ(h[PKEY_Music_Composer], L"v:Bach") << "GetValue sees the new value at once";
    PROPVARIANT empty{};
    h.Set(PKEY_Title, empty);
    EXPECT_EQ(h[PKEY_Title], L"empty");
    EXPECT_EQ(h.Keys(), before) << "neither the new composer nor the removed title changes the list";
}

TEST(TagSetterKeyList, OnlyTagKeysAreWritable)
{
    Writable h({});
    auto caps = As<IPropertyStoreCapabilities>(h.store);
    ASSERT_TRUE(caps);
    int writable = 0;
    for (const GetterBinding& row : GetterTable) {
        const HRESULT hr = caps->IsPropertyWritable(row.key);
        EXPECT_EQ(hr, FindSetter(row.key) != nullptr ? S_OK : S_FALSE);
        writable += hr == S_OK;
    }
    EXPECT_EQ(GetterTable.size(), 22u);
    EXPECT_EQ(writable, 14);
    EXPECT_EQ(h.SetText(PKEY_Audio_Format, L"MP3"), HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
}

TEST(TagSetterUnicode, SurrogatePairsRoundTrip)
{
    Writable h({"ALBUM=Symphonies \xF0\x9F\x8E\xBB"});
    EXPECT_EQ(h[PKEY_Music_AlbumTitle], L"s:Symphonies \xD83C\xDFBB");
    h.SetTexts(PKEY_Music_Artist, {L"\xD83C\xDFB8 guitar", L"\x4EA4\x97FF"});
    EXPECT_EQ(h[PKEY_Music_Artist], L"v:\xD83C\xDFB8 guitar|\x4EA4\x97FF");
}

} // namespace
