#include "bench/memory_measurements.h"

#include <psapi.h>

namespace {

PROCESS_MEMORY_COUNTERS_EX Counters()
{
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
    return counters;
}

double CommittedPrivateRegions()
{
    double total = 0;
    MEMORY_BASIC_INFORMATION region{};
    const BYTE* at = nullptr;
    while (VirtualQuery(at, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) {
            total += static_cast<double>(region.RegionSize);
        }
        const BYTE* next = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize;
        if (next <= at) {
            break;
        }
        at = next;
    }
    return total;
}

} // namespace

double PrivateBytes()
{
    const PROCESS_MEMORY_COUNTERS_EX counters = Counters();
    return counters.PrivateUsage != 0 ? static_cast<double>(counters.PrivateUsage) : CommittedPrivateRegions();
}

const char* PrivateBytesMethod()
{
    return Counters().PrivateUsage != 0 ? "private" : "committed_private_regions";
}

HRESULT ReportPeakMemory(const std::string& name, const std::function<HRESULT()>& operation)
{
    const PROCESS_MEMORY_COUNTERS_EX before = Counters();
    const HRESULT hr = operation();
    if (FAILED(hr)) {
        return hr;
    }
    const PROCESS_MEMORY_COUNTERS_EX after = Counters();
    const bool privateKnown = before.PrivateUsage != 0;
    const double held = static_cast<double>(privateKnown ? before.PrivateUsage : before.WorkingSetSize);
    const double peak = static_cast<double>(privateKnown ? after.PeakPagefileUsage : after.PeakWorkingSetSize);
    const double peakBefore = static_cast<double>(privateKnown ? before.PeakPagefileUsage : before.PeakWorkingSetSize);
    Report((name + "_method").c_str(), privateKnown ? "private" : "working_set");
    Report((name + "_held_before").c_str(), held);
    Report((name + "_peak_before").c_str(), peakBefore);
    Report((name + "_peak_after").c_str(), peak);
    Report((name + "_peak_delta").c_str(), peak > peakBefore ? peak - held : 0);
    return S_OK;
}
