#include "bench/bench.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

namespace {

ULONGLONG Big24(const BYTE* p)
{
    return (ULONGLONG{p[0]} << 16) | (ULONGLONG{p[1]} << 8) | p[2];
}

ULONGLONG Big32(const BYTE* p)
{
    return (Big24(p) << 8) | p[3];
}

bool ReadAt(HANDLE file, ULONGLONG offset, void* buffer, DWORD count)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD done = 0;
    return ReadFile(file, buffer, count, &done, &at) && done == count;
}

// Skips the strings in front of the picture data: type, MIME type,
// description, then four numbers; the data length follows.
ULONGLONG PictureDataLength(HANDLE file, ULONGLONG body)
{
    BYTE word[4];
    ULONGLONG at = body + 4;
    for (int text = 0; text < 2; ++text) {
        if (!ReadAt(file, at, word, 4)) {
            return 0;
        }
        at += 4 + Big32(word);
    }
    at += 16;
    return ReadAt(file, at, word, 4) ? Big32(word) : 0;
}

MetadataExtent ReadExtent(const std::wstring& path)
{
    MetadataExtent extent;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return extent;
    }
    BYTE header[4];
    if (ReadAt(file, 0, header, 4) && std::equal(header, header + 4, "fLaC")) {
        ULONGLONG at = 4;
        extent.firstBlock = at;
        extent.neededBytes = at;
        bool last = false;
        while (!last && ReadAt(file, at, header, 4)) {
            last = (header[0] & 0x80) != 0;
            const BYTE type = header[0] & 0x7F;
            const ULONGLONG length = Big24(header + 1);
            extent.neededBytes += 4 + (type == 1 ? 0 : length);
            if (type == 6 && extent.pictureBytes == 0) {
                extent.pictureBytes = PictureDataLength(file, at + 4);
            }
            at += 4 + length;
        }
        extent.audioOffset = at;
        extent.valid = last;
    }
    CloseHandle(file);
    return extent;
}

} // namespace

std::vector<CorpusFile> ListCorpus(const std::wstring& directory)
{
    std::vector<CorpusFile> files;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((directory + L"\\*.flac").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return files;
    }
    do {
        CorpusFile file;
        file.path = directory + L"\\" + found.cFileName;
        file.size = (ULONGLONG{found.nFileSizeHigh} << 32) | found.nFileSizeLow;
        files.push_back(std::move(file));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(files.begin(), files.end(), [](const CorpusFile& a, const CorpusFile& b) { return a.path < b.path; });
    for (CorpusFile& file : files) {
        file.extent = ReadExtent(file.path);
    }
    return files;
}

double Median(std::vector<double> values)
{
    if (values.empty()) {
        return 0;
    }
    const std::size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + middle, values.end());
    if (values.size() % 2 == 1) {
        return values[middle];
    }
    const double upper = values[middle];
    return (upper + *std::max_element(values.begin(), values.begin() + middle)) / 2;
}

double Mean(const std::vector<double>& values)
{
    return values.empty() ? 0 : std::accumulate(values.begin(), values.end(), 0.0) / values.size();
}

HRESULT OpenFileStream(const std::wstring& path, DWORD mode, BOOL create, IStream** stream)
{
    return SHCreateStreamOnFileEx(path.c_str(), mode, FILE_ATTRIBUTE_NORMAL, create, nullptr, stream);
}

void Report(const char* name, double value)
{
    std::printf("%s=%.3f\n", name, value);
    std::fflush(stdout);
}

void Report(const char* name, const std::string& value)
{
    std::printf("%s=%s\n", name, value.c_str());
    std::fflush(stdout);
}
