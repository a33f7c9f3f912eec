#include "tests/system/sample_files.h"

#include "tests/system/check_log.h"

#include <algorithm>
#include <vector>

namespace {

void AppendLittleEndian16(Bytes& out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

// A 24-bit bottom-up BMP of one colour.
Bytes SolidBitmap(int size, COLORREF colour)
{
    const std::uint32_t rowBytes = static_cast<std::uint32_t>(size) * 3; // a multiple of 4 for these sizes
    const std::uint32_t pixelBytes = rowBytes * static_cast<std::uint32_t>(size);
    Bytes bmp{'B', 'M'};
    AppendLittleEndian(bmp, 14 + 40 + pixelBytes);
    AppendLittleEndian(bmp, 0);
    AppendLittleEndian(bmp, 14 + 40);
    AppendLittleEndian(bmp, 40);
    AppendLittleEndian(bmp, static_cast<std::uint32_t>(size));
    AppendLittleEndian(bmp, static_cast<std::uint32_t>(size));
    AppendLittleEndian16(bmp, 1);
    AppendLittleEndian16(bmp, 24);
    AppendLittleEndian(bmp, 0); // BI_RGB
    AppendLittleEndian(bmp, pixelBytes);
    AppendLittleEndian(bmp, 2835);
    AppendLittleEndian(bmp, 2835);
    AppendLittleEndian(bmp, 0);
    AppendLittleEndian(bmp, 0);
    for (std::uint32_t i = 0; i < pixelBytes / 3; ++i) {
        bmp.push_back(GetBValue(colour));
        bmp.push_back(GetGValue(colour));
        bmp.push_back(GetRValue(colour));
    }
    return bmp;
}

} // namespace

Bytes MakeSample(const SampleOptions& options)
{
    FlacBuilder builder;
    if (options.id3Prefix) {
        builder.Id3v2Prefix(1000);
    }
    return builder.StreamInfo({44100, 2, 16, 3 * 44100})
        .VorbisComment({"ARTIST=Ada Lovelace", "ARTIST=Charles Babbage", "TITLE=Notes on the Engine",
                        "ALBUM=Analytical", "DATE=1843", "RATING=75", "TRACKNUMBER=7"})
        .Picture(4, "image/bmp", SolidBitmap(CoverSize, options.cover), "Back cover")
        .Picture(3, "image/bmp", SolidBitmap(CoverSize, FrontCoverColour), "Front cover")
        .Padding(options.padding)
        .Audio(256 * 1024, 7)
        .Build();
}

void WriteFileBytes(const std::wstring& path, const Bytes& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    Require(file != INVALID_HANDLE_VALUE, "cannot create " + Narrow(path));
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    Require(ok && written == bytes.size(), "cannot write " + Narrow(path));
}

Bytes ReadFileBytes(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    Require(file != INVALID_HANDLE_VALUE, "cannot open " + Narrow(path));
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    Bytes bytes(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    BOOL ok = ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(file);
    Require(ok && read == bytes.size(), "cannot read " + Narrow(path));
    return bytes;
}

bool OpensExclusively(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

std::wstring FolderListing(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") {
                names.push_back(name);
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    std::sort(names.begin(), names.end());
    std::wstring listing;
    for (const auto& name : names) {
        listing += (listing.empty() ? L"" : L", ") + name;
    }
    return listing;
}
