// Thumbnails as Explorer gets them: from the shell item's image factory and
// from the thumbnail cache, which runs the provider that the association of
// .flac names (possibly in a surrogate process) and keeps its result until
// the file's modification time changes. The samples' first picture is a back
// cover and their second a front cover of another colour: only this
// product's provider, which shows the first picture, gives the expected
// colour.
#include "resources/identifiers.h"
#include "tests/system/checks.h"
#include "tests/system/sample_files.h"
#include "tests/system/shell_access.h"

#include <functional>

namespace {

// {50EF4544-AC9F-4A8E-B21B-8A26180DB13F}, the shell's thumbnail cache.
constexpr CLSID LocalThumbnailCacheClass = {
    0x50EF4544, 0xAC9F, 0x4A8E, {0xB2, 0x1B, 0x8A, 0x26, 0x18, 0x0D, 0xB1, 0x3F}};
// The shell extension slot of thumbnail providers (IThumbnailProvider's IID).
constexpr const wchar_t* ThumbnailProviderSlot = L"{e357fccd-a995-4576-b01f-234630154e96}";

constexpr COLORREF Red = RGB(200, 30, 40);
constexpr COLORREF Blue = RGB(30, 60, 210);

void RequireReleased(const std::wstring& path)
{
    Require(OpensExclusively(path), "the file does not open exclusively after the thumbnail was released");
}

// One IThumbnailCache::GetThumbnail call with `flags`, whose bitmap must show
// `colour`; `whileHeld` runs while the cache and the bitmap are still held.
// Returns the cache's flags for the thumbnail.
WTS_CACHEFLAGS RequireCachedThumbnail(const std::wstring& path, WTS_FLAGS flags, COLORREF colour,
                                      const std::function<void()>& whileHeld = {})
{
    WTS_CACHEFLAGS cacheFlags{};
    {
        ComPtr<IThumbnailCache> cache;
        ShellCall(CoCreateInstance(LocalThumbnailCacheClass, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&cache)),
                  "CoCreateInstance(LocalThumbnailCache)");
        ComPtr<IShellItem> item;
        ShellCall(SHCreateItemFromParsingName(path.c_str(), nullptr, IID_PPV_ARGS(&item)),
                  "SHCreateItemFromParsingName");
        ComPtr<ISharedBitmap> shared;
        WTS_THUMBNAILID id{};
        ShellCall(cache->GetThumbnail(item.Get(), CoverSize, flags, &shared, &cacheFlags, &id),
                  "IThumbnailCache::GetThumbnail");
        HBITMAP bitmap = nullptr; // owned by the shared bitmap
        ShellCall(shared->GetSharedBitmap(&bitmap), "ISharedBitmap::GetSharedBitmap");
        RequireCover(bitmap, CoverSize, colour);
        if (whileHeld) {
            whileHeld();
        }
    }
    RequireReleased(path);
    return cacheFlags;
}

// A minute later than the last write, whatever the clock's resolution on
// this volume: the cache's entry for the file is stale.
void TouchAMinuteLater(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    Require(file != INVALID_HANDLE_VALUE, "cannot open the file to touch it");
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER later{{now.dwLowDateTime, now.dwHighDateTime}};
    later.QuadPart += 60ULL * 10'000'000ULL;
    const FILETIME touched{later.LowPart, later.HighPart};
    const BOOL ok = SetFileTime(file, nullptr, nullptr, &touched);
    CloseHandle(file);
    Require(ok, "cannot set the modification time");
}

} // namespace

void RunThumbnailChecks(CheckLog& log, const std::wstring& folder, const std::wstring& installedModule)
{
    log.Run("the shell resolves .flac's thumbnail provider to this product's class (AssocQueryStringW)", [&] {
        wchar_t provider[64] = {};
        DWORD length = ARRAYSIZE(provider);
        ShellCall(
            AssocQueryStringW(ASSOCF_NONE, ASSOCSTR_SHELLEXTENSION, L".flac", ThumbnailProviderSlot, provider, &length),
            "AssocQueryStringW(ASSOCSTR_SHELLEXTENSION, .flac)");
        wchar_t expected[39];
        StringFromGUID2(CLSID_ThumbnailProvider, expected, ARRAYSIZE(expected));
        Require(CompareStringOrdinal(provider, -1, expected, -1, TRUE) == CSTR_EQUAL,
                "the provider is " + Narrow(provider) + ", not " + Narrow(expected));
    });
    log.Run("thumbnail through IShellItemImageFactory::GetImage (SIIGBF_THUMBNAILONLY): the first picture", [&] {
        const std::wstring path = folder + L"\\image-factory.flac";
        WriteFileBytes(path, MakeSample({.cover = Red}));
        {
            ComPtr<IShellItemImageFactory> factory;
            ShellCall(SHCreateItemFromParsingName(path.c_str(), nullptr, IID_PPV_ARGS(&factory)),
                      "SHCreateItemFromParsingName");
            HBITMAP bitmap = nullptr;
            ShellCall(factory->GetImage({CoverSize, CoverSize}, SIIGBF_THUMBNAILONLY, &bitmap),
                      "IShellItemImageFactory::GetImage");
            struct Owned {
                HBITMAP bitmap;
                ~Owned() { DeleteObject(bitmap); }
            } owned{bitmap};
            RequireCover(bitmap, CoverSize, Red);
        }
        RequireReleased(path);
    });
    log.Run("thumbnail through IThumbnailCache::GetThumbnail (WTS_FORCEEXTRACTION), then from the cache only "
            "(WTS_INCACHEONLY, WTS_CACHED)",
            [&] {
                const std::wstring path = folder + L"\\cache.flac";
                WriteFileBytes(path, MakeSample({.cover = Red}));
                RequireCachedThumbnail(path, WTS_FORCEEXTRACTION, Red);
                const WTS_CACHEFLAGS cached = RequireCachedThumbnail(path, WTS_INCACHEONLY, Red);
                Require(cached & WTS_CACHED, "the thumbnail from the cache only is not flagged WTS_CACHED");
            });
    log.Run("thumbnail extracted in this process (WTS_EXTRACTINPROC | WTS_FORCEEXTRACTION) by the installed module "
            "of this program's machine",
            [&] {
                const std::wstring path = folder + L"\\in-process.flac";
                WriteFileBytes(path, MakeSample({.cover = Red}));
                RequireCachedThumbnail(path, static_cast<WTS_FLAGS>(WTS_EXTRACTINPROC | WTS_FORCEEXTRACTION), Red,
                                       [&] { RequireInstalledModuleLoaded(installedModule); });
            });
    log.Run("a new cover and a new modification time give a new thumbnail, extracted anew (WTS_CACHED clear)", [&] {
        const std::wstring path = folder + L"\\new-cover.flac";
        WriteFileBytes(path, MakeSample({.cover = Red}));
        RequireCachedThumbnail(path, WTS_EXTRACT, Red);
        WriteFileBytes(path, MakeSample({.cover = Blue}));
        TouchAMinuteLater(path);
        const WTS_CACHEFLAGS cached = RequireCachedThumbnail(path, WTS_EXTRACT, Blue);
        Require(!(cached & WTS_CACHED), "the new thumbnail is flagged WTS_CACHED: it came from the stale entry");
    });
}
