// Editing real files made by the reference encoder, through the safe-save
// stream the property system gives handlers. The CommitFiles cases check the
// result with the reference tools from the Linux side; the SafeSaveFiles
// cases (names, links) use Win32 calls only, so that on Windows they show
// what NTFS does.
#include "tests/support/flac_layout.h"
#include "tests/support/handler_helpers.h"
#include "tests/support/test_files.h"
#include "tools/safe_save/safe_save_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

struct Edit {
    PROPERTYKEY key;
    std::vector<std::wstring> values; // several: a vector; digits only: a number
    bool number;
};

// All 14 tags, with the comments each must leave in the file, in the order
// they are written (field name order).
const std::vector<Edit> kEdits = {
    {PKEY_Music_Artist, {L"Nina Simone", L"Ørjan Ås"}, false},
    {PKEY_Music_AlbumTitle, {L"Pastel Blues 🎹"}, false},
    {PKEY_Media_Year, {L"1965"}, true},
    {PKEY_Music_TrackNumber, {L"9"}, true},
    {PKEY_Music_Genre, {L"Jazz", L"民謡"}, false},
    {PKEY_Music_AlbumArtist, {L"Various"}, false},
    {PKEY_Music_Conductor, {L"Hal Mooney"}, false},
    {PKEY_Music_PartOfSet, {L"1/1"}, false},
    {PKEY_Rating, {L"75"}, true},
    {PKEY_Copyright, {L"℗ 1965"}, false},
    {PKEY_Music_Composer, {L"Traditional", L"Simone"}, false},
    {PKEY_Media_Publisher, {L"Philips"}, false},
    {PKEY_Title, {L"Sinnerman 𝄞"}, false},
    {PKEY_Comment, {L"a very long comment that no padding of a file made without any can hold"}, false},
};

const char* kExpectedTags = "ALBUM=Pastel Blues 🎹\n"
                            "ALBUMARTIST=Various\n"
                            "ARTIST=Nina Simone\n"
                            "ARTIST=Ørjan Ås\n"
                            "COMMENT=a very long comment that no padding of a file made without any can hold\n"
                            "COMPOSER=Traditional\n"
                            "COMPOSER=Simone\n"
                            "CONDUCTOR=Hal Mooney\n"
                            "COPYRIGHT=℗ 1965\n"
                            "DATE=1965\n"
                            "DISCNUMBER=1/1\n"
                            "GENRE=Jazz\n"
                            "GENRE=民謡\n"
                            "PUBLISHER=Philips\n"
                            "RATING=75\n"
                            "TITLE=Sinnerman 𝄞\n"
                            "TRACKNUMBER=9\n";

HRESULT Apply(IPropertyStore* store, const Edit& edit)
{
    PROPVARIANT value;
    if (edit.number) {
        value.vt = VT_UI4;
        value.ulVal = std::stoul(edit.values[0]);
    } else if (edit.values.size() == 1) {
        InitPropVariantFromString(edit.values[0].c_str(), &value);
    } else {
        std::vector<PCWSTR> texts;
        for (const auto& text : edit.values) {
            texts.push_back(text.c_str());
        }
        InitPropVariantFromStringVector(texts.data(), static_cast<ULONG>(texts.size()), &value);
    }
    const HRESULT hr = store->SetValue(edit.key, value);
    PropVariantClear(&value);
    return hr;
}

struct EditedFile {
    Bytes before;
    Bytes after;
    std::string path;
};

EditedFile EditAllTags(const std::wstring& fixture)
{
    EditedFile result;
    const std::wstring path = SharedScratchDir() + L"\\" + fixture;
    CopyFixture(FixturePath(fixture), path);
    result.before = ReadFileBytes(path);
    result.path = ToUnixPath(path);
    {
        ComPtr<SafeSaveStream> stream;
        EXPECT_EQ(SafeSaveStream::Open(path, &stream), S_OK);
        auto store = NewPropertyHandler();
        EXPECT_EQ(InitializeWith(store.Get(), stream.Get()), S_OK);
        for (const Edit& edit : kEdits) {
            EXPECT_EQ(Apply(store.Get(), edit), S_OK);
        }
        EXPECT_EQ(store->Commit(), S_OK);
        EXPECT_EQ(GetFileAttributesW(stream->TemporaryPath().c_str()), INVALID_FILE_ATTRIBUTES)
            << "no temporary file stays behind";
    }
    result.after = ReadFileBytes(path);
    return result;
}

void ExpectReferenceToolsAgree(const EditedFile& file)
{
    const ToolResult tags = RunUnixTool("/usr/bin/metaflac --export-tags-to=- " + ShellQuote(file.path));
    EXPECT_EQ(tags.exitCode, 0);
    EXPECT_EQ(tags.output, kExpectedTags);
    const ToolResult test = RunUnixTool("/usr/bin/flac --test --silent " + ShellQuote(file.path));
    EXPECT_EQ(test.exitCode, 0) << "the edited file must still decode";

    const FlacLayout before = ParseFlacLayout(file.before);
    const FlacLayout after = ParseFlacLayout(file.after);
    EXPECT_EQ(Tail(file.after, after.audioOffset), Tail(file.before, before.audioOffset)) << "audio bytes changed";
    ASSERT_EQ(after.prefixLength, before.prefixLength);
    EXPECT_TRUE(std::equal(file.before.begin(), file.before.begin() + static_cast<std::ptrdiff_t>(before.prefixLength),
                           file.after.begin()))
        << "the bytes in front of the marker changed";
}

TEST(CommitFiles, AllFourteenTagsInPlaceWithinThePadding)
{
    const EditedFile file = EditAllTags(L"tagged.flac");
    EXPECT_EQ(file.after.size(), file.before.size()) << "an in-place write keeps the size";
    ExpectReferenceToolsAgree(file);
}

TEST(CommitFiles, AllFourteenTagsByRewriteWhenThereIsNoPadding)
{
    const EditedFile file = EditAllTags(L"mono.flac");
    EXPECT_GT(file.after.size(), file.before.size());
    ExpectReferenceToolsAgree(file);
}

TEST(CommitFiles, Id3v2TagInFrontSurvivesAnInPlaceEdit)
{
    const EditedFile file = EditAllTags(L"id3-tagged.flac");
    EXPECT_EQ(file.after.size(), file.before.size());
    EXPECT_GT(ParseFlacLayout(file.after).prefixLength, 0u);
    ExpectReferenceToolsAgree(file);
}

TEST(CommitFiles, Id3v2TagInFrontSurvivesARewrite)
{
    const EditedFile file = EditAllTags(L"id3-mono.flac");
    EXPECT_GT(file.after.size(), file.before.size());
    EXPECT_GT(ParseFlacLayout(file.after).prefixLength, 0u);
    ExpectReferenceToolsAgree(file);
}

// Saves through the safe-save stream opened by `name`: a title set and
// committed.
HRESULT SaveTitle(const std::wstring& name, const wchar_t* title)
{
    ComPtr<SafeSaveStream> stream;
    HRESULT hr = SafeSaveStream::Open(name, &stream);
    if (FAILED(hr)) {
        return hr;
    }
    auto store = NewPropertyHandler();
    hr = InitializeWith(store.Get(), stream.Get());
    if (SUCCEEDED(hr)) {
        PROPVARIANT value;
        InitPropVariantFromString(title, &value);
        hr = store->SetValue(PKEY_Title, value);
        PropVariantClear(&value);
    }
    return SUCCEEDED(hr) ? store->Commit() : hr;
}

// A new, empty folder for one test, as a Windows path. Links in it are
// deleted as links, never their targets.
std::wstring EmptyFolder(const wchar_t* name)
{
    const std::wstring folder = SharedScratchDir() + L"\\" + name;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                DeleteFileW((folder + L"\\" + found.cFileName).c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

// The folder's entries, one name a line, sorted as `ls` sorts them here.
std::string Listing(const std::wstring& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") {
                names.push_back(Narrow(name));
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    std::sort(names.begin(), names.end());
    std::string listing;
    for (const auto& name : names) {
        listing += name + "\n";
    }
    return listing;
}

// The file's Vorbis comments, one a line, read from its bytes.
std::string TagsOf(const std::wstring& file)
{
    const FlacLayout layout = ParseFlacLayout(ReadFileBytes(file));
    const BlockLayout* comments = layout.First(VorbisCommentType);
    std::string tags;
    if (comments != nullptr) {
        for (const auto& comment : ParseVorbisCommentBody(comments->body).comments) {
            tags += comment + "\n";
        }
    }
    return tags;
}

// The number of names (hard links) of the file.
DWORD LinkCount(const std::wstring& file)
{
    HANDLE handle = CreateFileW(file.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION information{};
    const BOOL ok = handle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle, &information);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
    }
    return ok ? information.nNumberOfLinks : 0;
}

// Makes `link` a symbolic link to the file `target` (a name in the same
// folder). Windows needs the privilege to create symbolic links (an
// administrator) or developer mode. Wine 8's CreateSymbolicLinkW is a stub
// that makes nothing; there the link is made on the Linux side, where Wine
// follows it as Windows follows a symbolic link.
bool MakeSymbolicLink(const std::wstring& link, const std::wstring& target)
{
    if (CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
        GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    return UnixToolsAvailable() &&
           RunUnixTool("/bin/ln -s " + ShellQuote(Narrow(target)) + " " + ShellQuote(ToUnixPath(link))).exitCode == 0;
}

// Whether `path` is still a symbolic link, not a file of its own.
bool IsSymbolicLink(const std::wstring& path)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    FindClose(search);
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && found.dwReserved0 == IO_REPARSE_TAG_SYMLINK) {
        return true;
    }
    return UnixToolsAvailable() && RunUnixTool("/usr/bin/test -L " + ShellQuote(ToUnixPath(path))).exitCode == 0;
}

// mono.flac has no padding: a title this long needs the whole file
// rewritten.
const wchar_t kRoomyTitle[] = L"A title that needs the whole file rewritten";

// Name queries that fail as some redirectors and volumes without a drive
// letter do: for the normalized name only, or for every name.
DWORD WINAPI OnlyTheOpenedName(HANDLE file, LPWSTR name, DWORD size, DWORD flags)
{
    if ((flags & FILE_NAME_OPENED) == 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return 0;
    }
    return GetFinalPathNameByHandleW(file, name, size, flags);
}

DWORD WINAPI NoName(HANDLE, LPWSTR, DWORD, DWORD)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return 0;
}

// Saves a title that needs the whole file rewritten through `stream`.
HRESULT SaveRoomyTitle(IStream* stream)
{
    auto store = NewPropertyHandler();
    HRESULT hr = InitializeWith(store.Get(), stream);
    if (SUCCEEDED(hr)) {
        PROPVARIANT value;
        InitPropVariantFromString(kRoomyTitle, &value);
        hr = store->SetValue(PKEY_Title, value);
        PropVariantClear(&value);
    }
    return SUCCEEDED(hr) ? store->Commit() : hr;
}

TEST(SafeSaveStream, ALinkIsNotReplacedByAFileWhenItsTargetCannotBeNamed)
{
    const std::wstring folder = EmptyFolder(L"unnamed-link");
    const std::wstring target = folder + L"\\target.flac";
    CopyFixture(FixturePath(L"mono.flac"), target);
    const Bytes before = ReadFileBytes(target);
    const std::wstring link = folder + L"\\link.flac";
    if (!MakeSymbolicLink(link, L"target.flac")) {
        ASSERT_NE(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"), nullptr)
            << "cannot make a symbolic link: " << GetLastError();
        GTEST_SKIP() << "Wine 8 makes no symbolic links, and the Linux side is hidden";
    }

    // The normalized name cannot be had, the name it was opened by can.
    ComPtr<SafeSaveStream> stream;
    ASSERT_EQ(SafeSaveStream::Open(link, &stream, OnlyTheOpenedName), S_OK);
    EXPECT_EQ(stream->Path().substr(stream->Path().size() - 11), L"target.flac");
    EXPECT_EQ(SaveRoomyTitle(stream.Get()), S_OK);
    stream.Reset();
    EXPECT_TRUE(IsSymbolicLink(link)) << "the link became a file";
    EXPECT_NE(TagsOf(target).find("TITLE=A title that needs"), std::string::npos);

    // No name at all: a rewrite through the link is refused.
    if ((GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        GTEST_SKIP() << "Wine shows a symbolic link as the file it leads to, not as a reparse point";
    }
    WriteFileBytes(target, before);
    ASSERT_EQ(SafeSaveStream::Open(link, &stream, NoName), S_OK);
    EXPECT_EQ(SaveRoomyTitle(stream.Get()), HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
    EXPECT_NE(stream->Refusal().find(L"link"), std::wstring::npos);
    stream.Reset();
    EXPECT_TRUE(IsSymbolicLink(link)) << "the link became a file";
    EXPECT_EQ(ReadFileBytes(target), before);
}

TEST(SafeSaveStream, AFileReplacedByAnotherProgramDuringTheSaveKeepsThatProgramsVersion)
{
    const std::wstring folder = EmptyFolder(L"replaced");
    // The stream holds the file open without FILE_SHARE_DELETE: no Windows
    // program can rename over it until the stream closes it just before its
    // own rename. Only the Linux side can act inside that window here.
    if (!UnixToolsAvailable()) {
        GTEST_SKIP() << "another program's save is made from the Linux side";
    }
    const std::wstring file = folder + L"\\song.flac";
    CopyFixture(FixturePath(L"mono.flac"), file);
    ComPtr<SafeSaveStream> stream;
    ASSERT_EQ(SafeSaveStream::Open(file, &stream), S_OK);
    auto store = NewPropertyHandler();
    ASSERT_EQ(InitializeWith(store.Get(), stream.Get()), S_OK);
    PROPVARIANT value;
    InitPropVariantFromString(kRoomyTitle, &value);
    ASSERT_EQ(store->SetValue(PKEY_Title, value), S_OK);
    PropVariantClear(&value);
    // Another program saves the file its own way while the edit is pending:
    // a new file renamed over it.
    const std::string unixFile = ToUnixPath(file);
    ASSERT_EQ(RunUnixTool("/bin/cp " + ShellQuote(ToUnixPath(FixturePath(L"tagged.flac"))) + " " +
                          ShellQuote(unixFile + ".other") + " && /bin/mv " + ShellQuote(unixFile + ".other") + " " +
                          ShellQuote(unixFile))
                  .exitCode,
              0);
    EXPECT_TRUE(FAILED(store->Commit()));
    EXPECT_FALSE(stream->Refusal().empty());
    store.Reset();
    stream.Reset();
    EXPECT_EQ(ReadFileBytes(file), ReadFileBytes(FixturePath(L"tagged.flac")));
    EXPECT_EQ(Listing(folder), "song.flac\n");
}

TEST(SafeSaveFiles, TheFileKeepsItsOwnNameAndItsCopiesAreFoundWhateverTheCaseTyped)
{
    const std::wstring folder = EmptyFolder(L"case");
    CopyFixture(FixturePath(L"mono.flac"), folder + L"\\song.flac");
    WriteFileBytes(folder + L"\\song.flac.0badc0de.qbsave", {1, 2, 3});
    EXPECT_EQ(SaveTitle(folder + L"\\SONG.FLAC", kRoomyTitle), S_OK);
    EXPECT_EQ(Listing(folder), "song.flac\n") << "the name changed, or a killed save's copy stayed";
    EXPECT_NE(TagsOf(folder + L"\\song.flac").find("TITLE=A title that needs"), std::string::npos);
}

TEST(SafeSaveFiles, ARewriteThroughASymbolicLinkWritesItsTarget)
{
    const std::wstring folder = EmptyFolder(L"symlink");
    CopyFixture(FixturePath(L"mono.flac"), folder + L"\\target.flac");
    const std::wstring link = folder + L"\\link.flac";
    if (!MakeSymbolicLink(link, L"target.flac")) {
        // Only Wine, with its Linux side hidden, has no way at all.
        ASSERT_NE(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"), nullptr)
            << "cannot make a symbolic link: " << GetLastError();
        GTEST_SKIP() << "Wine 8 makes no symbolic links, and the Linux side is hidden";
    }
    EXPECT_EQ(SaveTitle(link, kRoomyTitle), S_OK);
    EXPECT_TRUE(IsSymbolicLink(link)) << "the link became a file";
    EXPECT_NE(TagsOf(folder + L"\\target.flac").find("TITLE=A title that needs"), std::string::npos);
    EXPECT_EQ(Listing(folder), "link.flac\ntarget.flac\n");
}

TEST(SafeSaveFiles, AFileWithOtherNamesIsNotRewrittenButEditedInPlaceUnderAll)
{
    const std::wstring folder = EmptyFolder(L"hardlink");
    const std::wstring one = folder + L"\\one.flac";
    const std::wstring two = folder + L"\\two.flac";
    CopyFixture(FixturePath(L"mono.flac"), one);
    ASSERT_TRUE(CreateHardLinkW(two.c_str(), one.c_str(), nullptr));
    const Bytes before = ReadFileBytes(one);
    EXPECT_EQ(SaveTitle(one, kRoomyTitle), HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(ReadFileBytes(one), before);
    EXPECT_EQ(ReadFileBytes(two), before);
    EXPECT_EQ(LinkCount(one), 2u) << "parted";

    // tagged.flac has padding: the edit is written in place, under both names.
    const std::wstring three = folder + L"\\three.flac";
    const std::wstring four = folder + L"\\four.flac";
    CopyFixture(FixturePath(L"tagged.flac"), three);
    ASSERT_TRUE(CreateHardLinkW(four.c_str(), three.c_str(), nullptr));
    EXPECT_EQ(SaveTitle(three, L"Short"), S_OK);
    EXPECT_NE(TagsOf(four).find("TITLE=Short"), std::string::npos);
    EXPECT_EQ(Listing(folder), "four.flac\none.flac\nthree.flac\ntwo.flac\n");
}

} // namespace
