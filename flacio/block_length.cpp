#include "flacio/block_length.h"

#include <cstring>

namespace {

// The byte count libFLAC writes for the block's contents.
unsigned long long ContentLength(const FLAC__StreamMetadata& block) noexcept
{
    switch (block.type) {
    case FLAC__METADATA_TYPE_STREAMINFO:
        return FLAC__STREAM_METADATA_STREAMINFO_LENGTH;
    case FLAC__METADATA_TYPE_SEEKTABLE:
        return static_cast<unsigned long long>(block.data.seek_table.num_points) *
               FLAC__STREAM_METADATA_SEEKPOINT_LENGTH;
    case FLAC__METADATA_TYPE_VORBIS_COMMENT: {
        const FLAC__StreamMetadata_VorbisComment& comments = block.data.vorbis_comment;
        unsigned long long length = 4ULL + comments.vendor_string.length + 4ULL;
        for (FLAC__uint32 i = 0; i < comments.num_comments; ++i) {
            length += 4ULL + comments.comments[i].length;
        }
        return length;
    }
    case FLAC__METADATA_TYPE_CUESHEET: {
        const FLAC__StreamMetadata_CueSheet& sheet = block.data.cue_sheet;
        unsigned long long bits =
            FLAC__STREAM_METADATA_CUESHEET_MEDIA_CATALOG_NUMBER_LEN + FLAC__STREAM_METADATA_CUESHEET_LEAD_IN_LEN +
            FLAC__STREAM_METADATA_CUESHEET_IS_CD_LEN + FLAC__STREAM_METADATA_CUESHEET_RESERVED_LEN +
            FLAC__STREAM_METADATA_CUESHEET_NUM_TRACKS_LEN;
        const unsigned long long trackBits =
            FLAC__STREAM_METADATA_CUESHEET_TRACK_OFFSET_LEN + FLAC__STREAM_METADATA_CUESHEET_TRACK_NUMBER_LEN +
            FLAC__STREAM_METADATA_CUESHEET_TRACK_ISRC_LEN + FLAC__STREAM_METADATA_CUESHEET_TRACK_TYPE_LEN +
            FLAC__STREAM_METADATA_CUESHEET_TRACK_PRE_EMPHASIS_LEN + FLAC__STREAM_METADATA_CUESHEET_TRACK_RESERVED_LEN +
            FLAC__STREAM_METADATA_CUESHEET_TRACK_NUM_INDICES_LEN;
        const unsigned long long indexBits = FLAC__STREAM_METADATA_CUESHEET_INDEX_OFFSET_LEN +
                                             FLAC__STREAM_METADATA_CUESHEET_INDEX_NUMBER_LEN +
                                             FLAC__STREAM_METADATA_CUESHEET_INDEX_RESERVED_LEN;
        for (FLAC__uint32 i = 0; i < sheet.num_tracks; ++i) {
            bits += trackBits + sheet.tracks[i].num_indices * indexBits;
        }
        return bits / 8;
    }
    case FLAC__METADATA_TYPE_PICTURE: {
        // The texts are written up to their first NUL.
        const FLAC__StreamMetadata_Picture& picture = block.data.picture;
        return 32ULL + std::strlen(picture.mime_type) +
               std::strlen(reinterpret_cast<const char*>(picture.description)) + picture.data_length;
    }
    default:
        // PADDING, APPLICATION and unknown blocks are read and written by
        // their length.
        return block.length;
    }
}

} // namespace

bool LengthMatchesContents(const FLAC__StreamMetadata& block) noexcept
{
    return ContentLength(block) == block.length;
}
