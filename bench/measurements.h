// The measurements, one file at a time. Each returns a failed HRESULT when
// a step fails, so that the program stops instead of timing a failure.
#pragma once

#include "bench/bench.h"
#include "bench/counting_stream.h"
#include "tools/cli/class_source.h"

// A metadata read as the property system makes it: open the file's stream,
// create the handler, Initialize, GetCount, every GetAt and GetValue, clear,
// release. Times in microseconds; counts only when asked for.
struct ReadTimes {
    double total = 0;
    double open = 0;
    double create = 0;
    double initialize = 0;
    double values = 0;
    double release = 0;
    DWORD properties = 0;
};
HRESULT MeasureRead(const ClassSource& source, const CorpusFile& file, ReadTimes& times,
                    StreamCounts* counts = nullptr);

// Initialize alone over an in-memory copy of the file's metadata: what the
// handler and libFLAC cost without the file system.
HRESULT MeasureInitializeInMemory(const ClassSource& source, const CorpusFile& file, std::vector<BYTE>& buffer,
                                  double& micros);

// The raw-I/O floor: open the same kind of stream, read the bytes a metadata
// read needs in one call into `buffer`, release.
HRESULT MeasureFloor(const CorpusFile& file, std::vector<BYTE>& buffer, double& micros);

// One tag changed within the padding and committed in place, on a copy of
// the file at `scratch`: the time of Commit and what went through the stream.
HRESULT MeasureInPlaceCommit(const ClassSource& source, const CorpusFile& file, const std::wstring& scratch,
                             double& micros, StreamCounts& counts);

// Tags grown beyond the padding and committed, on a copy of the file at
// `scratch` behind a safe-save stream: the time of Commit.
HRESULT MeasureRewriteCommit(const ClassSource& source, const CorpusFile& file, const std::wstring& scratch,
                             double& micros, StreamCounts& source_counts, StreamCounts& destination_counts);

// A plain copy of the file to `scratch` through the same stream type, in
// chunks of `buffer`'s size.
HRESULT MeasureCopy(const CorpusFile& file, const std::wstring& scratch, std::vector<BYTE>& buffer, double& micros);
