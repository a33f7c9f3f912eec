#include "bench/large_metadata.h"

#include "bench/measurements.h"

#include <cstdio>
#include <psapi.h>

namespace {

// Equal bytes that end a changed span: a block that did not move.
constexpr ULONGLONG kUnchangedRun = 64 * 1024;

bool ReadStart(const std::wstring& path, ULONGLONG length, std::vector<BYTE>& bytes)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bytes.assign(static_cast<std::size_t>(length), 0);
    DWORD read = 0;
    const bool ok = ReadFile(file, bytes.data(), static_cast<DWORD>(length), &read, nullptr) && read == length;
    CloseHandle(file);
    return ok;
}

// Wine keeps no private-bytes figures, so the working set stands in there,
// as in the benchmark's read-memory figure.
struct MemoryFigures {
    double held = 0;
    double peak = 0;
};

MemoryFigures Memory()
{
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
    const bool privateKnown = counters.PrivateUsage != 0;
    return {static_cast<double>(privateKnown ? counters.PrivateUsage : counters.WorkingSetSize),
            static_cast<double>(privateKnown ? counters.PeakPagefileUsage : counters.PeakWorkingSetSize)};
}

} // namespace

ULONGLONG ChangedSpanBytes(const std::wstring& before, const std::wstring& after, ULONGLONG length)
{
    std::vector<BYTE> old, now;
    if (!ReadStart(before, length, old) || !ReadStart(after, length, now)) {
        return 0;
    }
    ULONGLONG changed = 0;
    ULONGLONG spanStart = 0;
    ULONGLONG lastDifference = 0;
    bool inSpan = false;
    for (ULONGLONG i = 0; i < length; ++i) {
        if (old[i] == now[i]) {
            continue;
        }
        if (inSpan && i - lastDifference - 1 >= kUnchangedRun) {
            changed += lastDifference + 1 - spanStart;
            inSpan = false;
        }
        if (!inSpan) {
            spanStart = i;
            inSpan = true;
        }
        lastDifference = i;
    }
    return inSpan ? changed + lastDifference + 1 - spanStart : changed;
}

bool BenchLargeMetadata(const ClassSource& source, const CorpusFile& file, const std::wstring& scratch)
{
    const MemoryFigures before = Memory();
    double micros = 0;
    StreamCounts counts;
    const HRESULT hr = MeasureInPlaceCommit(source, file, scratch, micros, counts);
    const MemoryFigures after = Memory();
    if (FAILED(hr)) {
        std::fprintf(stderr, "bench: large metadata: in-place commit of %ls failed: 0x%08lX\n", file.path.c_str(),
                     static_cast<unsigned long>(hr));
        return false;
    }
    const ULONGLONG changed = ChangedSpanBytes(file.path, scratch, file.extent.audioOffset);
    DeleteFileW(scratch.c_str());
    Report("large_metadata_bytes", static_cast<double>(file.extent.MetadataLength()));
    Report("large_metadata_inplace_written", static_cast<double>(counts.bytesWritten));
    Report("large_metadata_inplace_read", static_cast<double>(counts.bytesRead));
    Report("large_metadata_changed_span", static_cast<double>(changed));
    Report("large_metadata_inplace_us", micros);
    // Only a save that set a new peak is measured by it.
    Report("large_metadata_peak_memory", after.peak > before.peak ? after.peak - before.held : 0);
    return true;
}
