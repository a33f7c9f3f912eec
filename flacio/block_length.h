// Whether a metadata block that libFLAC read holds as many bytes as its header
// says. libFLAC reads STREAMINFO, PICTURE and CUESHEET blocks by their fields
// and salvages a damaged VORBIS_COMMENT block, whatever the header's length;
// but it writes every block back under the length it read, and copies the
// audio from where its read ended. Writing a chain with a block that fails
// this check would misplace or lose bytes of the stream.
#pragma once

#include <FLAC/metadata.h>

bool LengthMatchesContents(const FLAC__StreamMetadata& block) noexcept;
