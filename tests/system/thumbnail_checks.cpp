// Thumbnails as Explorer gets them: from the shell item's image factory and
// from the thumbnail cache, which runs the provider bound to .flac
// (possibly in a surrogate process) and keeps its result until the file's
// modification time changes.
#include "tests/system/checks.h"
#include "tests/system/sample_files.h"
#include "tests/system/shell_access.h"

namespace {

// {50EF4544-AC9F-4A8E-B21B-8A26180DB13F}, the shell's thumbnail cache.
constexpr CLSID LocalThumbnailCacheClass = {
    0x50EF4544, 0xAC9F, 0x4A8E, {0xB2, 0x1B, 0x8A, 0x26, 0x18, 0x0D, 0xB1, 0x3F}};

constexpr COLORREF Red = RGB(200, 30, 40);
constexpr COLORREF Blue = RGB(30, 60, 210);

void RequireReleased(const std::wstring& path)
{
    Require(OpensExclusively(path), "the file does not open exclusively after the thumbnail was released");
}

void RequireCachedThumbnail(const std::wstring& path, WTS_FLAGS flags, COLORREF colour)
{
    {
        ComPtr<IThumbnailCache> cache;
        ShellCall(CoCreateInstance(LocalThumbnailCacheClass, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&cache)),
                  "CoCreateInstance(LocalThumbnailCache)");
        ComPtr<IShellItem> item;
        ShellCall(SHCreateItemFromParsingName(path.c_str(), nullptr, IID_PPV_ARGS(&item)),
                  "SHCreateItemFromParsingName");
        ComPtr<ISharedBitmap> shared;
        WTS_CACHEFLAGS cacheFlags{};
        WTS_THUMBNAILID id{};
        ShellCall(cache->GetThumbnail(item.Get(), CoverSize, flags, &shared, &cacheFlags, &id),
                  "IThumbnailCache::GetThumbnail");
        HBITMAP bitmap = nullptr; // owned by the shared bitmap
        ShellCall(shared->GetSharedBitmap(&bitmap), "ISharedBitmap::GetSharedBitmap");
        RequireCover(bitmap, CoverSize, colour);
    }
    RequireReleased(path);
}

} // namespace

void RunThumbnailChecks(CheckLog& log, const std::wstring& folder)
{
    log.Run("thumbnail through IShellItemImageFactory::GetImage (SIIGBF_THUMBNAILONLY)", [&] {
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
    log.Run("thumbnail through IThumbnailCache::GetThumbnail (WTS_FORCEEXTRACTION)", [&] {
        const std::wstring path = folder + L"\\cache.flac";
        WriteFileBytes(path, MakeSample({.cover = Red}));
        RequireCachedThumbnail(path, WTS_FORCEEXTRACTION, Red);
    });
    log.Run("a new cover and a new modification time give a new thumbnail from the cache", [&] {
        const std::wstring path = folder + L"\\new-cover.flac";
        WriteFileBytes(path, MakeSample({.cover = Red}));
        RequireCachedThumbnail(path, WTS_EXTRACT, Red);
        WriteFileBytes(path, MakeSample({.cover = Blue}));
        // A minute later than the write itself, whatever the clock's
        // resolution on this volume.
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
        RequireCachedThumbnail(path, WTS_EXTRACT, Blue);
    });
}
