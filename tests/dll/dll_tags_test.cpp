// Reads all 22 properties through the built quillbrook.dll from files tagged
// by metaflac, and compares each with what follows from the tags metaflac
// reports for the same file.
#include "tests/support/built_module.h"
#include "tests/support/property_values.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <sstream>
#include <vector>

namespace {

enum class Shape { Text, Texts, Number };

struct TagProperty {
    PROPERTYKEY key;
    Shape shape;
    std::vector<std::string> names;
};

// The tag properties as users see them: where each is read from and how.
const std::vector<TagProperty>& TagProperties()
{
    static const std::vector<TagProperty> properties = {
        {PKEY_Music_Artist, Shape::Texts, {"ARTIST"}},
        {PKEY_Music_AlbumTitle, Shape::Text, {"ALBUM"}},
        {PKEY_Media_Year, Shape::Number, {"DATE"}},
        {PKEY_Music_TrackNumber, Shape::Number, {"TRACKNUMBER"}},
        {PKEY_Music_Genre, Shape::Texts, {"GENRE"}},
        {PKEY_Music_AlbumArtist, Shape::Text, {"ALBUMARTIST", "ALBUM ARTIST", "BAND"}},
        {PKEY_Music_Conductor, Shape::Texts, {"CONDUCTOR"}},
        {PKEY_Music_PartOfSet, Shape::Text, {"DISCNUMBER"}},
        {PKEY_Rating, Shape::Number, {"RATING"}},
        {PKEY_Copyright, Shape::Text, {"COPYRIGHT"}},
        {PKEY_Music_Composer, Shape::Texts, {"COMPOSER"}},
        {PKEY_Media_Publisher, Shape::Text, {"PUBLISHER"}},
        {PKEY_Title, Shape::Text, {"TITLE"}},
        {PKEY_Comment, Shape::Text, {"COMMENT"}},
    };
    return properties;
}

using ExportedTags = std::map<std::string, std::vector<std::string>>;

// metaflac's export of the file's comments (raw UTF-8), names upper-cased.
ExportedTags ExportTags(const std::wstring& path)
{
    const ToolResult exported =
        RunUnixTool("/usr/bin/metaflac --no-utf8-convert --export-tags-to=- " + ShellQuote(ToUnixPath(path)));
    EXPECT_EQ(exported.exitCode, 0);
    ExportedTags tags;
    std::istringstream lines(exported.output);
    for (std::string line; std::getline(lines, line);) {
        const auto equals = line.find('=');
        std::string name = line.substr(0, equals);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
        tags[name].push_back(line.substr(equals + 1));
    }
    return tags;
}

std::vector<std::string> NonEmptyValues(const ExportedTags& tags, const std::vector<std::string>& names)
{
    std::vector<std::string> values;
    for (const std::string& name : names) {
        if (const auto found = tags.find(name); found != tags.end()) {
            std::copy_if(found->second.begin(), found->second.end(), std::back_inserter(values),
                         [](const std::string& v) { return !v.empty(); });
        }
    }
    return values;
}

std::wstring ExpectedTagValue(const TagProperty& property, const ExportedTags& tags)
{
    const std::vector<std::string> values = NonEmptyValues(tags, property.names);
    if (values.empty()) {
        return L"empty";
    }
    switch (property.shape) {
    case Shape::Text:
        return L"s:" + Widen(values.front());
    case Shape::Texts: {
        std::wstring joined = L"v:";
        for (std::size_t i = 0; i < values.size(); ++i) {
            joined += (i == 0 ? L"" : L"|") + Widen(values[i]);
        }
        return joined;
    }
    case Shape::Number: {
        std::smatch digits;
        static const std::regex plainNumber("^[ \\t]*([0-9]+)[ \\t]*$");
        if (!std::regex_match(values.front(), digits, plainNumber) || digits[1].length() > 20 ||
            std::stoull(digits[1]) > 0xFFFFFFFFull) {
            return L"empty";
        }
        return L"u:" + std::to_wstring(std::stoull(digits[1]));
    }
    }
    return L"?";
}

bool KeyBytesLess(const PROPERTYKEY& a, const PROPERTYKEY& b)
{
    return std::memcmp(&a, &b, sizeof(PROPERTYKEY)) < 0;
}

std::vector<PROPERTYKEY> ListedKeys(IPropertyStore* store)
{
    DWORD count = 0;
    EXPECT_EQ(store->GetCount(&count), S_OK);
    std::vector<PROPERTYKEY> keys(count);
    for (DWORD i = 0; i < count; ++i) {
        EXPECT_EQ(store->GetAt(i, &keys[i]), S_OK);
    }
    return keys;
}

const wchar_t* const ReferenceFiles[] = {L"tagged.flac", L"unicode.flac", L"multilingual.flac", L"fallback.flac",
                                         L"plain.flac"};

using DllTags = BuiltModuleTest;

TEST_F(DllTags, EveryTagPropertyAnswersWhatMetaflacWrote)
{
    for (const wchar_t* name : ReferenceFiles) {
        SCOPED_TRACE(Narrow(name));
        const std::wstring path = FixturePath(name);
        const ExportedTags tags = ExportTags(path);
        auto store = OpenFile(path);
        ASSERT_TRUE(store);
        for (const TagProperty& property : TagProperties()) {
            EXPECT_EQ(ValueOf(store.Get(), property.key), ExpectedTagValue(property, tags)) << property.names[0];
        }
    }
}

TEST_F(DllTags, AudioPropertiesOfTaggedFilesFollowTheStreamInfo)
{
    for (const wchar_t* name : ReferenceFiles) {
        SCOPED_TRACE(Narrow(name));
        const std::wstring path = FixturePath(name);
        const ToolResult listing = RunUnixTool("/usr/bin/metaflac --list " + ShellQuote(ToUnixPath(path)));
        ASSERT_EQ(listing.exitCode, 0);
        const auto rate = MetaflacNumber(listing.output, "sample_rate");
        const auto samples = MetaflacNumber(listing.output, "total samples");
        ASSERT_NE(rate, 0u);
        ASSERT_NE(samples, 0u);
        unsigned long long metadataBytes = 0;
        const std::regex lengthPattern("length: ([0-9]+)");
        for (auto it = std::sregex_iterator(listing.output.begin(), listing.output.end(), lengthPattern);
             it != std::sregex_iterator(); ++it) {
            metadataBytes += std::stoull((*it)[1]) + 4;
        }
        const unsigned long long audioBytes = ReadFileBytes(path).size() - metadataBytes;

        auto store = OpenFile(path);
        ASSERT_TRUE(store);
        EXPECT_EQ(ValueOf(store.Get(), PKEY_Audio_Format), L"s:FLAC");
        EXPECT_EQ(ValueOf(store.Get(), PKEY_Media_Duration), L"u8:" + std::to_wstring(samples * 10000000ull / rate));
        EXPECT_EQ(ValueOf(store.Get(), PKEY_Audio_EncodingBitrate),
                  L"u:" + std::to_wstring(static_cast<ULONG>(rate * audioBytes * 8 / samples)));
        EXPECT_EQ(ValueOf(store.Get(), PKEY_Audio_SampleRate), L"u:" + std::to_wstring(rate));
        EXPECT_EQ(ValueOf(store.Get(), PKEY_Audio_SampleSize),
                  L"u:" + std::to_wstring(MetaflacNumber(listing.output, "bits-per-sample")));
        EXPECT_EQ(ValueOf(store.Get(), PKEY_Audio_ChannelCount),
                  L"u:" + std::to_wstring(MetaflacNumber(listing.output, "channels")));
        EXPECT_EQ(ValueOf(store.Get(), PKEY_DRM_IsProtected), L"b:false");
        EXPECT_EQ(ValueOf(store.Get(), PKEY_Audio_IsVariableBitRate), L"b:true");
    }
}

TEST_F(DllTags, ListsTheAudioKeysAndTheKeyOfEveryTaggedField)
{
    for (const wchar_t* name : ReferenceFiles) {
        SCOPED_TRACE(Narrow(name));
        const std::wstring path = FixturePath(name);
        const ExportedTags tags = ExportTags(path);
        std::vector<PROPERTYKEY> expected = {
            PKEY_Audio_Format,     PKEY_Media_Duration,     PKEY_Audio_EncodingBitrate, PKEY_Audio_SampleRate,
            PKEY_Audio_SampleSize, PKEY_Audio_ChannelCount, PKEY_DRM_IsProtected,       PKEY_Audio_IsVariableBitRate,
        };
        for (const TagProperty& property : TagProperties()) {
            if (std::any_of(property.names.begin(), property.names.end(),
                            [&](const std::string& field) { return tags.count(field) != 0; })) {
                expected.push_back(property.key);
            }
        }
        std::sort(expected.begin(), expected.end(), KeyBytesLess);
        auto store = OpenFile(path);
        ASSERT_TRUE(store);
        EXPECT_EQ(ListedKeys(store.Get()), expected) << "all listed, once each, in byte order";
    }
}

TEST_F(DllTags, ExactlyTheFourteenTagKeysAreWritable)
{
    auto store = OpenFile(FixturePath(L"tagged.flac"));
    ASSERT_TRUE(store);
    auto caps = As<IPropertyStoreCapabilities>(store);
    ASSERT_TRUE(caps);
    for (const TagProperty& property : TagProperties()) {
        EXPECT_EQ(caps->IsPropertyWritable(property.key), S_OK) << property.names[0];
    }
    for (const PROPERTYKEY& key :
         {PKEY_Audio_Format, PKEY_Media_Duration, PKEY_Audio_EncodingBitrate, PKEY_Audio_SampleRate,
          PKEY_Audio_SampleSize, PKEY_Audio_ChannelCount, PKEY_DRM_IsProtected, PKEY_Audio_IsVariableBitRate}) {
        EXPECT_EQ(caps->IsPropertyWritable(key), S_FALSE);
    }
}

TEST_F(DllTags, FallbackFileReadsAsItsTagsSay)
{
    // The tags fallback.flac is made with (tests/make_fixtures.sh).
    auto store = OpenFile(FixturePath(L"fallback.flac"));
    ASSERT_TRUE(store);
    EXPECT_EQ(ValueOf(store.Get(), PKEY_Music_AlbumArtist), L"s:Band of Brothers");
    EXPECT_EQ(ValueOf(store.Get(), PKEY_Title), L"s:Second Title");
    EXPECT_EQ(ValueOf(store.Get(), PKEY_Music_Artist), L"v:Solo");
    EXPECT_EQ(ValueOf(store.Get(), PKEY_Music_TrackNumber), L"empty");
    EXPECT_EQ(ValueOf(store.Get(), PKEY_Media_Year), L"empty");
    EXPECT_EQ(ValueOf(store.Get(), PKEY_Rating), L"empty");
    auto multilingual = OpenFile(FixturePath(L"multilingual.flac"));
    ASSERT_TRUE(multilingual);
    EXPECT_EQ(ValueOf(multilingual.Get(), PKEY_Music_TrackNumber), L"u:7");
    EXPECT_EQ(ValueOf(multilingual.Get(), PKEY_Rating), L"empty") << "a full-width digit is no number";
    EXPECT_EQ(ValueOf(multilingual.Get(), PKEY_Title), L"s:\xD834\xDD1E Clef \xD83C\xDFBC");
}

} // namespace
