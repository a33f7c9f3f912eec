#include "handler/block_placement.h"

#include "flacio/metadata_iterator.h"

#include <vector>

namespace {

constexpr long long kHeader = 4;
// A padding block's length must fit the 24 bits of a block header.
constexpr long long kLongestPadding = (1LL << 24) - 1;

bool IsPadding(const FLAC__StreamMetadata* block) noexcept
{
    return block->type == FLAC__METADATA_TYPE_PADDING;
}

// Whether `room` bytes (headers included) can be filled exactly: by nothing,
// or by one padding block.
bool FillsExactly(long long room) noexcept
{
    return room == 0 || (room >= kHeader && room - kHeader <= kLongestPadding);
}

// An iterator on the block at `index`.
MetadataIterator IteratorAt(FLAC__Metadata_Chain* chain, std::size_t index) noexcept
{
    MetadataIterator iterator = NewChainIterator(chain);
    for (std::size_t i = 0; iterator && i < index; ++i) {
        FLAC__metadata_iterator_next(iterator.get());
    }
    return iterator;
}

// Removes the `count` blocks after the iterator's block; the iterator stays.
void DeleteFollowing(FLAC__Metadata_Iterator* iterator, std::size_t count) noexcept
{
    for (std::size_t i = 0; i < count; ++i) {
        FLAC__metadata_iterator_next(iterator);
        FLAC__metadata_iterator_delete_block(iterator, false);
    }
}

// Puts a padding block of `room` bytes (headers included) after the
// iterator's block; nothing when `room` is 0. A block that cannot be made is
// left to libFLAC, which pads a chain shorter than the file itself.
void PadAfter(FLAC__Metadata_Iterator* iterator, long long room) noexcept
{
    if (room == 0) {
        return;
    }
    FLAC__StreamMetadata* padding = FLAC__metadata_object_new(FLAC__METADATA_TYPE_PADDING);
    if (padding == nullptr) {
        return;
    }
    padding->length = static_cast<unsigned>(room - kHeader);
    if (!FLAC__metadata_iterator_insert_block_after(iterator, padding)) {
        FLAC__metadata_object_delete(padding);
    }
}

// The bytes of other blocks that gathering the padding at the end would
// move.
unsigned long long BytesGatheringMoves(const std::vector<FLAC__StreamMetadata*>& blocks,
                                       const FLAC__StreamMetadata* vorbisComment, unsigned oldLength) noexcept
{
    unsigned long long before = 0;
    unsigned long long after = 0;
    unsigned long long moved = 0;
    for (const FLAC__StreamMetadata* block : blocks) {
        if (!IsPadding(block) && block != vorbisComment && before != after) {
            moved += kHeader + block->length;
        }
        before += kHeader + (block == vorbisComment ? oldLength : block->length);
        after += IsPadding(block) ? 0 : kHeader + block->length;
    }
    return moved;
}

} // namespace

bool KeepLargeBlocksInPlace(FLAC__Metadata_Chain* chain, FLAC__StreamMetadata* vorbisComment,
                            unsigned oldLength) noexcept
{
    std::vector<FLAC__StreamMetadata*> blocks;
    std::size_t comment = 0;
    {
        MetadataIterator iterator = NewChainIterator(chain);
        if (!iterator) {
            return false;
        }
        try {
            do {
                FLAC__StreamMetadata* block = FLAC__metadata_iterator_get_block(iterator.get());
                if (block == vorbisComment) {
                    comment = blocks.size();
                }
                blocks.push_back(block);
            } while (FLAC__metadata_iterator_next(iterator.get()));
        } catch (...) {
            return false;
        }
    }
    if (comment == 0 || blocks[comment] != vorbisComment ||
        BytesGatheringMoves(blocks, vorbisComment, oldLength) <= kLargestMove) {
        return false;
    }
    const long long newBytes = kHeader + vorbisComment->length;

    // The comment block's place: its old bytes and the padding right behind.
    std::size_t runEnd = comment + 1;
    long long place = kHeader + oldLength;
    for (; runEnd < blocks.size() && IsPadding(blocks[runEnd]); ++runEnd) {
        place += kHeader + blocks[runEnd]->length;
    }
    if (FillsExactly(place - newBytes)) {
        MetadataIterator iterator = IteratorAt(chain, comment);
        if (!iterator) {
            return false;
        }
        DeleteFollowing(iterator.get(), runEnd - comment - 1);
        PadAfter(iterator.get(), place - newBytes);
        return true;
    }

    // Else the padding at the end, behind the other blocks.
    std::size_t tail = blocks.size();
    long long end = 0;
    for (; tail > runEnd && IsPadding(blocks[tail - 1]); --tail) {
        end += kHeader + blocks[tail - 1]->length;
    }
    if (tail == blocks.size() || !FillsExactly(end - newBytes) || !FillsExactly(place)) {
        return false;
    }
    MetadataIterator atComment = IteratorAt(chain, comment);
    MetadataIterator atTail = IteratorAt(chain, tail);
    FLAC__StreamMetadata* moved = atComment && atTail ? FLAC__metadata_object_clone(vorbisComment) : nullptr;
    if (moved == nullptr) {
        return false;
    }
    if (!FLAC__metadata_iterator_insert_block_before(atTail.get(), moved)) {
        FLAC__metadata_object_delete(moved);
        return false;
    }
    DeleteFollowing(atTail.get(), blocks.size() - tail);
    PadAfter(atTail.get(), end - newBytes);
    // The old place, the comment block's and its padding's, becomes one
    // padding block of the same size.
    DeleteFollowing(atComment.get(), runEnd - comment - 1);
    FLAC__metadata_iterator_delete_block(atComment.get(),
                                         /*replace_with_padding=*/true);
    FLAC__metadata_iterator_next(atComment.get());
    FLAC__metadata_iterator_get_block(atComment.get())->length = static_cast<unsigned>(place - kHeader);
    return true;
}
