#include "handler/metadata_layout.h"

#include "com/atl_exception.h"
#include "flacio/metadata_iterator.h"

#include <algorithm>
#include <map>
#include <set>

namespace {

constexpr ULONGLONG kHeader = 4;

bool NeverChanged(const PlacedBlock& block) noexcept
{
    return block.type != FLAC__METADATA_TYPE_PADDING && block.type != FLAC__METADATA_TYPE_VORBIS_COMMENT;
}

// Appends [start, end) to `ranges`, joining it to the last one it touches.
void AddRange(std::vector<RegionRange>& ranges, ULONGLONG start, ULONGLONG end)
{
    if (start >= end) {
        return;
    }
    if (!ranges.empty() && ranges.back().end >= start) {
        ranges.back().end = std::max(ranges.back().end, end);
        return;
    }
    ranges.push_back({start, end});
}

// The part of [start, end) that no padding body of `before` covers.
void AddOutsidePaddingBodies(std::vector<RegionRange>& ranges, const MetadataLayout& before, ULONGLONG start,
                             ULONGLONG end)
{
    ULONGLONG at = start;
    for (const PlacedBlock& old : before) {
        if (old.type != FLAC__METADATA_TYPE_PADDING || old.End() <= at || old.offset + kHeader >= end) {
            continue;
        }
        const ULONGLONG bodyStart = old.offset + kHeader;
        if (bodyStart > at) {
            AddRange(ranges, at, bodyStart);
        }
        at = std::max(at, old.End());
        if (at >= end) {
            return;
        }
    }
    AddRange(ranges, at, end);
}

} // namespace

std::array<std::uint8_t, 4> PlacedBlock::Header() const noexcept
{
    return {static_cast<std::uint8_t>((last ? 0x80 : 0) | (type & 0x7F)), static_cast<std::uint8_t>(length >> 16),
            static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
}

MetadataLayout LayoutOf(FLAC__Metadata_Chain* chain)
{
    MetadataIterator iterator = NewChainIterator(chain);
    if (!iterator) {
        AtlThrow(E_OUTOFMEMORY);
    }
    MetadataLayout layout;
    // Room for a typical file's blocks in one allocation.
    layout.reserve(8);
    ULONGLONG offset = 0;
    do {
        const FLAC__StreamMetadata* block = FLAC__metadata_iterator_get_block(iterator.get());
        layout.push_back({block, block->type, offset, block->length, false});
        offset += kHeader + block->length;
    } while (FLAC__metadata_iterator_next(iterator.get()));
    layout.back().last = true;
    return layout;
}

const PlacedBlock* FirstOfType(const MetadataLayout& layout, FLAC__MetadataType type) noexcept
{
    const auto found =
        std::find_if(layout.begin(), layout.end(), [type](const PlacedBlock& block) { return block.type == type; });
    return found == layout.end() ? nullptr : &*found;
}

ULONGLONG MovedBytes(const MetadataLayout& before, const MetadataLayout& after)
{
    std::map<const FLAC__StreamMetadata*, ULONGLONG> offsets;
    for (const PlacedBlock& old : before) {
        if (NeverChanged(old)) {
            offsets[old.block] = old.offset;
        }
    }
    ULONGLONG moved = 0;
    for (const PlacedBlock& now : after) {
        const auto found = offsets.find(now.block);
        if (NeverChanged(now) && (found == offsets.end() || found->second != now.offset)) {
            moved += kHeader + now.length;
        }
    }
    return moved;
}

std::vector<RegionRange> ChangedWindows(const MetadataLayout& before, const MetadataLayout& after)
{
    std::map<ULONGLONG, const PlacedBlock*> oldAt;
    for (const PlacedBlock& old : before) {
        oldAt[old.offset] = &old;
    }
    std::vector<RegionRange> changed;
    std::set<ULONGLONG> boundaries;
    for (const PlacedBlock& now : after) {
        const auto found = oldAt.find(now.offset);
        const PlacedBlock* const old = found == oldAt.end() ? nullptr : found->second;
        if (old != nullptr) {
            boundaries.insert(now.offset);
        }
        const bool sameBlock = old != nullptr && NeverChanged(now) && old->block == now.block;
        const bool sameHeader =
            old != nullptr && old->Header() == now.Header() && (sameBlock || now.type == FLAC__METADATA_TYPE_PADDING);
        if (!sameHeader) {
            AddRange(changed, now.offset, now.offset + kHeader);
        }
        if (now.type == FLAC__METADATA_TYPE_PADDING) {
            AddOutsidePaddingBodies(changed, before, now.offset + kHeader, now.End());
        } else if (!sameBlock) {
            AddRange(changed, now.offset + kHeader, now.End());
        }
    }
    // Windows part only where both layouts have a block boundary between
    // their changed bytes.
    std::vector<RegionRange> windows;
    for (const RegionRange& range : changed) {
        const auto boundary = boundaries.lower_bound(windows.empty() ? 0 : windows.back().end);
        if (windows.empty() || (boundary != boundaries.end() && *boundary <= range.start)) {
            windows.push_back(range);
        } else {
            windows.back().end = range.end;
        }
    }
    return windows;
}

bool OnlyPadding(const MetadataLayout& layout, RegionRange range)
{
    for (const PlacedBlock& block : layout) {
        if (block.offset < range.end && block.End() > range.start && block.type != FLAC__METADATA_TYPE_PADDING) {
            return false;
        }
    }
    return true;
}
