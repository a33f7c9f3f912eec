// The measurements, one file at a time. Each returns a failed HRESULT when
// a step fails, so that the program stops instead of timing a failure.
// Where a delay is given, the file's stream is wrapped in a counting stream
// that waits that long on every call (slow storage).
#pragma once

#include "bench/bench.h"
#include "bench/counting_stream.h"
#include "tools/cli/class_source.h"

// A metadata read as the property system makes it: open the file's stream,
// create the handler from its kept class object, Initialize, GetCount, every
// GetAt and GetValue, clear, release. Times in microseconds; counts only when
// asked for.
struct ReadTimes {
    double total = 0;
    double open = 0;
    double create = 0;
    double initialize = 0;
    double values = 0;
    double release = 0;
    DWORD properties = 0;
    // Blocks of task memory the values handed over (a text one, a text
    // vector one per element and one for the array), which the caller frees.
    DWORD taskBlocks = 0;
};
HRESULT MeasureRead(IClassFactory* handlerClass, const CorpusFile& file, ReadTimes& times,
                    StreamCounts* counts = nullptr, double delayMicros = 0);

// Creating and releasing one handler through `source` (CoCreateInstance for
// the registered classes): what a host that does not keep class objects pays
// on top of a read.
HRESULT MeasureActivation(const ClassSource& source, double& micros);

// One block of task memory allocated and freed as a text value's is
// (CoTaskMemAlloc, PropVariantClear), averaged over a run of them: the
// allocator's share of the values, which no getter can avoid.
double MeasureTaskBlock();

// Initialize alone over an in-memory copy of the file's metadata: what the
// handler and libFLAC cost without the file system.
HRESULT MeasureInitializeInMemory(IClassFactory* handlerClass, const CorpusFile& file, std::vector<BYTE>& buffer,
                                  double& micros);
// libFLAC's part of it: the size query and the chain read through the
// handler's stream layer, without the walk, the key list and the tags.
HRESULT MeasureChainReadInMemory(const CorpusFile& file, std::vector<BYTE>& buffer, double& micros);

// The thumbnail provider's Initialize over the file's stream: its time and
// stream calls. The photo thumbnail provider it hands the picture to must be
// the process's stand-in.
HRESULT MeasureThumbnailInitialize(IClassFactory* thumbnailClass, const CorpusFile& file, double& micros,
                                   StreamCounts& counts);

// The raw-I/O floor: open the same kind of stream, read the bytes a metadata
// read needs in one call into `buffer`, ask the stream's size (a seek to the
// end), release.
HRESULT MeasureFloor(const CorpusFile& file, std::vector<BYTE>& buffer, double& micros, double delayMicros = 0);

// One tag changed within the padding and committed in place, on a copy of
// the file at `scratch`: the time of Commit and what went through the stream.
HRESULT MeasureInPlaceCommit(const ClassSource& source, const CorpusFile& file, const std::wstring& scratch,
                             double& micros, StreamCounts& counts);

// Tags grown beyond the padding and committed, on a copy of the file at
// `scratch` behind a safe-save stream: the time of Commit.
HRESULT MeasureRewriteCommit(const ClassSource& source, const CorpusFile& file, const std::wstring& scratch,
                             double& micros, StreamCounts& sourceCounts, StreamCounts& destinationCounts,
                             double delayMicros = 0);

// What the safe save does with no handler in between, on a copy of the file
// at `scratch` behind the same safe-save stream: the whole file read from the
// stream and written to its destination in chunks of `buffer`'s size, then
// the stream's Commit, which flushes the copy (the destination's Commit) and
// puts it in the file's place. Timed from GetDestinationStream to the end of
// Commit, as the rewrite is timed over its Commit.
HRESULT MeasureCopy(const CorpusFile& file, const std::wstring& scratch, std::vector<BYTE>& buffer, double& micros,
                    StreamCounts& sourceCounts, StreamCounts& destinationCounts, double delayMicros = 0);
