// Owning handle for a libFLAC metadata iterator, deleted on every way out.
#pragma once

#include <FLAC/metadata.h>

#include <memory>

struct MetadataIteratorDeleter {
    void operator()(FLAC__Metadata_Iterator* iterator) const noexcept { FLAC__metadata_iterator_delete(iterator); }
};
using MetadataIterator = std::unique_ptr<FLAC__Metadata_Iterator, MetadataIteratorDeleter>;

// A new iterator on the chain's first block, or null when none can be made.
inline MetadataIterator NewChainIterator(FLAC__Metadata_Chain* chain) noexcept
{
    MetadataIterator iterator(FLAC__metadata_iterator_new());
    if (iterator) {
        FLAC__metadata_iterator_init(iterator.get(), chain);
    }
    return iterator;
}

// The bytes the chain's blocks take in a stream, headers included; 0 when no
// iterator can be made (a chain that was read holds at least one block).
inline unsigned long long ChainMetadataBytes(FLAC__Metadata_Chain* chain) noexcept
{
    MetadataIterator iterator = NewChainIterator(chain);
    unsigned long long bytes = 0;
    if (iterator) {
        do {
            bytes += FLAC__metadata_iterator_get_block(iterator.get())->length + 4ULL;
        } while (FLAC__metadata_iterator_next(iterator.get()));
    }
    return bytes;
}
