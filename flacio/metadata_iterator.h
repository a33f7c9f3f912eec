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
