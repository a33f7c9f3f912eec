// Reading and editing through the property system, as Explorer's Details
// pane and other programs do: SHGetPropertyStoreFromParsingName finds the
// handler bound to .flac, opens the file, and (for GPS_READWRITE) hands the
// handler a stream whose destinations make the safe-save rewrite.
#include "tests/system/checks.h"
#include "tests/system/sample_files.h"
#include "tests/system/shell_access.h"
#include "tests/support/flac_layout.h"

namespace {

void Expect(const std::wstring& actual, const std::wstring& expected, const std::string& what)
{
    Require(actual == expected, what + " is \"" + Narrow(actual) + "\", expected \"" + Narrow(expected) + "\"");
}

void Expect(std::uint64_t actual, std::uint64_t expected, const std::string& what)
{
    Require(actual == expected, what + " is " + std::to_string(actual) + ", expected " + std::to_string(expected));
}

void RequireSampleValues(IPropertyStore* store)
{
    // "FLAC" is this handler's answer; Windows' own handler for .flac gives
    // another format name, so a wrong binding fails here.
    Expect(TextValue(store, PKEY_Audio_Format), L"FLAC", "System.Audio.Format");
    Expect(NumberValue(store, PKEY_Media_Duration), SampleDuration, "System.Media.Duration");
    Expect(NumberValue(store, PKEY_Audio_SampleRate), 44100, "System.Audio.SampleRate");
    Expect(NumberValue(store, PKEY_Audio_ChannelCount), 2, "System.Audio.ChannelCount");
    Expect(NumberValue(store, PKEY_Audio_SampleSize), 16, "System.Audio.SampleSize");
    const auto artists = TextList(store, PKEY_Music_Artist);
    Require(artists.size() == 2 && artists[0] == SampleArtists[0] && artists[1] == SampleArtists[1],
            "System.Music.Artist is not the two artists of the sample");
    Expect(TextValue(store, PKEY_Title), SampleTitle, "System.Title");
    Expect(TextValue(store, PKEY_Music_AlbumTitle), SampleAlbum, "System.Music.AlbumTitle");
    Expect(NumberValue(store, PKEY_Media_Year), SampleYear, "System.Media.Year");
    Expect(NumberValue(store, PKEY_Rating), SampleRating, "System.Rating");
    Expect(NumberValue(store, PKEY_Music_TrackNumber), SampleTrack, "System.Music.TrackNumber");
}

void RequireReleased(const std::wstring& path)
{
    Require(OpensExclusively(path), "the file does not open exclusively after the store was released");
}

// One edit through a GPS_READWRITE store, then the checks every save must
// pass: the bytes in front of the metadata and the audio untouched, nothing
// left beside the file, the new value read back through a new store.
void EditAndCheck(const std::wstring& folder, const std::wstring& path, REFPROPERTYKEY key, const std::wstring& value,
                  bool inPlace)
{
    const Bytes before = ReadFileBytes(path);
    const FlacLayout oldLayout = ParseFlacLayout(before);
    const std::wstring listing = FolderListing(folder);
    {
        auto store = OpenPropertyStore(path, GPS_READWRITE);
        SetText(store.Get(), key, value);
        ShellCall(store->Commit(), "IPropertyStore::Commit");
    }
    RequireReleased(path);
    const Bytes after = ReadFileBytes(path);
    const FlacLayout newLayout = ParseFlacLayout(after);
    Require(newLayout.prefixLength == oldLayout.prefixLength &&
                std::equal(before.begin(), before.begin() + oldLayout.prefixLength, after.begin()),
            "the bytes in front of the fLaC marker changed");
    Require(Tail(after, newLayout.audioOffset) == Tail(before, oldLayout.audioOffset), "the audio bytes changed");
    Require((after.size() == before.size()) == inPlace,
            inPlace ? "the file was rewritten, not written in place" : "the file kept its size: no rewrite");
    Expect(FolderListing(folder), listing, "the folder");
    auto store = OpenPropertyStore(path, GPS_HANDLERPROPERTIESONLY);
    Expect(TextValue(store.Get(), key), value, "the value read back");
    Expect(TextValue(store.Get(), PKEY_Music_AlbumTitle), SampleAlbum, "System.Music.AlbumTitle after the edit");
}

} // namespace

void RunPropertyChecks(CheckLog& log, const std::wstring& folder, const std::wstring& installedModule)
{
    const std::wstring sample = folder + L"\\read.flac";
    log.Run("read through GPS_DEFAULT", [&] {
        WriteFileBytes(sample, MakeSample());
        {
            auto store = OpenPropertyStore(sample, GPS_DEFAULT);
            RequireSampleValues(store.Get());
        }
        RequireReleased(sample);
    });
    log.Run("read through GPS_HANDLERPROPERTIESONLY, served in this process by the installed module of this "
            "program's machine",
            [&] {
                WriteFileBytes(sample, MakeSample());
                {
                    auto store = OpenPropertyStore(sample, GPS_HANDLERPROPERTIESONLY);
                    RequireSampleValues(store.Get());
                    // Property handlers run in the caller's process: a 32-bit program
                    // gets the x86 module, an ARM64 one the ARM64 module.
                    RequireInstalledModuleLoaded(installedModule);
                }
                RequireReleased(sample);
            });
    log.Run("display text of duration, rating, year and artists", [&] {
        WriteFileBytes(sample, MakeSample());
        {
            auto store = OpenPropertyStore(sample, GPS_DEFAULT);
            // The texts of an English display language (the hosted runners').
            Expect(DisplayText(store.Get(), PKEY_Media_Duration), L"00:00:03", "duration text");
            Expect(DisplayText(store.Get(), PKEY_Rating), L"4 Stars", "rating text");
            Expect(DisplayText(store.Get(), PKEY_Media_Year), L"1843", "year text");
            Expect(DisplayText(store.Get(), PKEY_Music_Artist), L"Ada Lovelace; Charles Babbage", "artists text");
        }
        RequireReleased(sample);
    });
    log.Run("edit within the padding, written in place", [&] {
        const std::wstring path = folder + L"\\in-place.flac";
        WriteFileBytes(path, MakeSample());
        EditAndCheck(folder, path, PKEY_Title, L"Note G", true);
    });
    log.Run("edit beyond the padding, rewritten through the safe save", [&] {
        const std::wstring path = folder + L"\\rewrite.flac";
        WriteFileBytes(path, MakeSample({.padding = 64}));
        EditAndCheck(folder, path, PKEY_Comment, std::wstring(2000, L'x'), false);
    });
    log.Run("edit of a file with an ID3v2 prefix, rewritten", [&] {
        const std::wstring path = folder + L"\\id3.flac";
        WriteFileBytes(path, MakeSample({.id3Prefix = true, .padding = 64}));
        EditAndCheck(folder, path, PKEY_Title, std::wstring(500, L't'), false);
    });
    log.Run("edit of a read-only file fails with access denied and leaves it unchanged", [&] {
        const std::wstring path = folder + L"\\read-only.flac";
        WriteFileBytes(path, MakeSample());
        Require(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY), "cannot make the file read-only");
        const Bytes before = ReadFileBytes(path);
        {
            ComPtr<IPropertyStore> store;
            HRESULT hr = SHGetPropertyStoreFromParsingName(path.c_str(), nullptr, GPS_READWRITE, IID_PPV_ARGS(&store));
            if (hr == E_NOTIMPL) {
                throw ShellUnavailable{};
            }
            // The shell may refuse to open the file for writing (access
            // denied, in either facility); if it opens it, Commit must return
            // what IPropertyStore::Commit documents for a read-only file.
            if (FAILED(hr)) {
                Require(hr == E_ACCESSDENIED || hr == STG_E_ACCESSDENIED,
                        "opening the read-only file for writing failed with " + HexResult(hr) + ", not access denied");
            } else {
                SetText(store.Get(), PKEY_Title, L"Never written");
                hr = store->Commit();
                Require(hr == STG_E_ACCESSDENIED,
                        "Commit on a read-only file returned " + HexResult(hr) + ", not STG_E_ACCESSDENIED");
            }
        }
        RequireReleased(path);
        Require(ReadFileBytes(path) == before, "the read-only file changed");
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    });
}
