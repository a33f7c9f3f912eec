// Reading the Vorbis comments of a VORBIS_COMMENT block into a tag store.
#pragma once

#include "propkeys/key_list.h"
#include "tags/tag_store.h"

#include <FLAC/metadata.h>

// Stores every legal comment with a non-empty value under its upper-cased
// name in `tags`, and lists in `keys` the key of every known field name. Illegal
// comments are skipped; an empty value stores nothing but still lists the key.
// Fails only by out-of-memory or another unexpected error.
HRESULT ParseVorbisComment(const FLAC__StreamMetadata& block, KeyList& keys, TagStore& tags) noexcept;
