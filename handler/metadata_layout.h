// Where each metadata block stands in the region the blocks take in the file,
// before and after a change, and which bytes of that region a write in place
// must send. Blocks other than padding and Vorbis comments are never changed
// by a save, only moved: one that stays where it was keeps its bytes on
// disk, and padding keeps whatever its body held. What is left is read and
// written in a few windows that begin and end where both layouts have a
// block boundary, so that a file stopped with any of them written and the
// others not still holds whole blocks throughout.
#pragma once

#include "platform/platform.h"

#include <FLAC/metadata.h>

#include <array>
#include <cstdint>
#include <vector>

struct PlacedBlock {
    // The block's identity, compared only for blocks a save never changes
    // (neither padding nor Vorbis comments).
    const FLAC__StreamMetadata* block = nullptr;
    FLAC__MetadataType type = FLAC__METADATA_TYPE_PADDING;
    ULONGLONG offset = 0; // of its header, from the start of the region
    unsigned length = 0;  // of its body
    bool last = false;

    ULONGLONG End() const noexcept { return offset + 4 + length; }
    // The 4 header bytes as they stand in the file.
    std::array<std::uint8_t, 4> Header() const noexcept;
};
using MetadataLayout = std::vector<PlacedBlock>;

// A range [start, end) of region offsets.
struct RegionRange {
    ULONGLONG start = 0;
    ULONGLONG end = 0;
};

// The chain's blocks, in order, as libFLAC writes them; throws
// E_OUTOFMEMORY when the chain cannot be walked.
MetadataLayout LayoutOf(FLAC__Metadata_Chain* chain);

// The first block of `type`, or null.
const PlacedBlock* FirstOfType(const MetadataLayout& layout, FLAC__MetadataType type) noexcept;

// The bytes of blocks other than padding and Vorbis comments that stand
// elsewhere in `after` than in `before`.
ULONGLONG MovedBytes(const MetadataLayout& before, const MetadataLayout& after);

// The windows of the region in which `after` may differ from `before` on
// disk, in order; each starts and ends where both layouts have a block
// boundary or inside such a window's changed bytes.
std::vector<RegionRange> ChangedWindows(const MetadataLayout& before, const MetadataLayout& after);

// Whether every byte of `range` belonged to padding blocks in `layout`.
bool OnlyPadding(const MetadataLayout& layout, RegionRange range);
