// Shared pieces of the benchmark program: the corpus files and their
// metadata extent, a stopwatch over the performance counter, medians, and
// the result lines it prints.
#pragma once

#include "platform/platform.h"

#include <string>
#include <vector>

// Where a file's metadata lies, read from its block headers.
struct MetadataExtent {
    ULONGLONG firstBlock = 0;   // offset of the first block header (after "fLaC")
    ULONGLONG audioOffset = 0;  // first byte after the last block
    ULONGLONG neededBytes = 0;  // what a metadata read must read: all but padding contents
    ULONGLONG pictureBytes = 0; // picture data of the first PICTURE block
    bool valid = false;

    ULONGLONG MetadataLength() const { return audioOffset - firstBlock; }
};

struct CorpusFile {
    std::wstring path;
    ULONGLONG size = 0;
    MetadataExtent extent;
};

// The FLAC files of `directory`, in name order, with their extents.
std::vector<CorpusFile> ListCorpus(const std::wstring& directory);

class Stopwatch {
public:
    Stopwatch() { QueryPerformanceCounter(&m_start); }
    // Microseconds since construction.
    double Micros() const
    {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<double>(now.QuadPart - m_start.QuadPart) * 1e6 / Frequency();
    }

private:
    static double Frequency()
    {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }
    LARGE_INTEGER m_start;
};

double Median(std::vector<double> values);
double Mean(const std::vector<double>& values);

HRESULT OpenFileStream(const std::wstring& path, DWORD mode, BOOL create, IStream** stream);

// One result line, NAME=VALUE, on standard output.
void Report(const char* name, double value);
void Report(const char* name, const std::string& value);
