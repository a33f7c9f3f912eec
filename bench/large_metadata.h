// What an in-place write sends: its bytes against the span of bytes that
// changed, and what a title edit costs a file with large pictures behind its
// comments (bytes written and read, peak memory).
#pragma once

#include "bench/bench.h"
#include "tools/cli/class_source.h"

// The bytes in which the first `length` bytes of the files `before` and
// `after` differ: from the first differing byte to the last, leaving out
// every run of 64 KB or more of equal bytes between. 0 when either cannot
// be read.
ULONGLONG ChangedSpanBytes(const std::wstring& before, const std::wstring& after, ULONGLONG length);

// The title of `file` changed within its padding and committed in place on
// a copy at `scratch`, with the process's memory watched from before the
// handler reads the file to after the Commit. Prints large_metadata_* lines.
bool BenchLargeMetadata(const ClassSource& source, const CorpusFile& file, const std::wstring& scratch);
