// Where the blocks go when the VORBIS_COMMENT block changes size and the
// metadata is written in place. Gathering all padding at the end moves
// every block behind the comment block (and behind any padding) by the
// change: for a file with large pictures behind its comments, a title edit
// would rewrite megabytes in place, and a write that long can be torn by a
// kill or a power cut. Where blocks that large would move, they stay where
// they are: the change is taken up by the padding behind the comment block,
// or the comment block moves into the padding at the end and its old place
// becomes padding.
#pragma once

#include <FLAC/metadata.h>

// More than this many bytes of other blocks moving makes the blocks stay.
constexpr unsigned long long kLargestMove = 64 * 1024;

// Called once `vorbisComment` (a block of `chain`, `oldLength` bytes long
// before it was rebuilt) holds the new comments. Arranges the chain so that
// no block but the comment block and padding changes its place, and returns
// true, where gathering the padding would move more than kLargestMove bytes
// of other blocks and the padding around them leaves room; returns false and
// leaves the chain as it was otherwise.
bool KeepLargeBlocksInPlace(FLAC__Metadata_Chain* chain, FLAC__StreamMetadata* vorbisComment,
                            unsigned oldLength) noexcept;
