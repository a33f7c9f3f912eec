// The Vorbis comment field names behind each tag property. A getter reads the
// names in list order, so the first name with a non-empty value wins; a setter
// writes under the first name and removes the others.
#pragma once

#include <span>

using FieldNameList = std::span<const char* const>;

namespace FieldNames {

inline constexpr const char* ArtistNames[] = {"ARTIST"};
inline constexpr const char* AlbumNames[] = {"ALBUM"};
inline constexpr const char* DateNames[] = {"DATE"};
inline constexpr const char* TrackNumberNames[] = {"TRACKNUMBER"};
inline constexpr const char* GenreNames[] = {"GENRE"};
inline constexpr const char* AlbumArtistNames[] = {"ALBUMARTIST", "ALBUM ARTIST", "BAND"};
inline constexpr const char* ConductorNames[] = {"CONDUCTOR"};
inline constexpr const char* DiscNumberNames[] = {"DISCNUMBER"};
inline constexpr const char* RatingNames[] = {"RATING"};
inline constexpr const char* CopyrightNames[] = {"COPYRIGHT"};
inline constexpr const char* ComposerNames[] = {"COMPOSER"};
inline constexpr const char* PublisherNames[] = {"PUBLISHER"};
inline constexpr const char* TitleNames[] = {"TITLE"};
inline constexpr const char* CommentNames[] = {"COMMENT"};

inline constexpr FieldNameList Artist{ArtistNames};
inline constexpr FieldNameList Album{AlbumNames};
inline constexpr FieldNameList Date{DateNames};
inline constexpr FieldNameList TrackNumber{TrackNumberNames};
inline constexpr FieldNameList Genre{GenreNames};
inline constexpr FieldNameList AlbumArtist{AlbumArtistNames};
inline constexpr FieldNameList Conductor{ConductorNames};
inline constexpr FieldNameList DiscNumber{DiscNumberNames};
inline constexpr FieldNameList Rating{RatingNames};
inline constexpr FieldNameList Copyright{CopyrightNames};
inline constexpr FieldNameList Composer{ComposerNames};
inline constexpr FieldNameList Publisher{PublisherNames};
inline constexpr FieldNameList Title{TitleNames};
inline constexpr FieldNameList Comment{CommentNames};

} // namespace FieldNames
