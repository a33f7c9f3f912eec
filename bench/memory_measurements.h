// Memory figures: the peak of one operation above what the process held
// before it, and the process's private bytes over many reads.
#pragma once

#include "bench/bench.h"

#include <functional>
#include <string>

// Committed private memory, what Private Bytes counts: PrivateUsage where the
// system keeps it; under Wine, which does not (it stays 0), the sum of the
// committed private regions of the address space.
double PrivateBytes();
// How PrivateBytes counted: "private" or "committed_private_regions".
const char* PrivateBytesMethod();

// Runs `operation` once and reports NAME_method, NAME_held_before,
// NAME_peak_before, NAME_peak_after and NAME_peak_delta: the peak during the
// operation above what the process held before it, 0 when it set no new
// peak. Wine keeps no private-bytes peak, so there the figure is the peak
// working set, the kernel's high-water mark of resident memory, which only an
// operation that goes higher than everything before it moves.
HRESULT ReportPeakMemory(const std::string& name, const std::function<HRESULT()>& operation);
