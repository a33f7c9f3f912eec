// Whole ranges of a stream read, written or copied in large calls, for the
// write paths that work around libFLAC: keeping the metadata that an in-place
// write overwrites, putting it back, and copying a file into a destination.
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <vector>

// Reads `length` bytes from `offset`; a stream that ends sooner is E_FAIL,
// a length no buffer can hold E_OUTOFMEMORY (before any stream call).
HRESULT ReadRange(IStream* stream, ULONGLONG offset, ULONGLONG length, std::vector<std::uint8_t>& bytes);

// Writes `bytes` at `offset`.
HRESULT WriteRange(IStream* stream, ULONGLONG offset, const std::vector<std::uint8_t>& bytes) noexcept;

// Copies `source` from its start to its end into `destination` at its start.
HRESULT CopyWholeStream(IStream* source, IStream* destination);
