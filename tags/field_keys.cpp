#include "tags/field_keys.h"

#include <algorithm>
#include <array>

namespace {

// std::string_view compares as unsigned bytes, the shorter first on a common
// prefix: the order of the tag map's names.
struct FieldNameLess {
    constexpr bool operator()(const FieldKeyEntry& row, std::string_view name) const noexcept
    {
        return std::string_view(row.name) < name;
    }
    constexpr bool operator()(std::string_view name, const FieldKeyEntry& row) const noexcept
    {
        return name < std::string_view(row.name);
    }
};

template <std::size_t N> constexpr bool NamesStrictlySorted(const std::array<FieldKeyEntry, N>& rows)
{
    for (std::size_t i = 1; i < N; ++i) {
        if (!(std::string_view(rows[i - 1].name) < std::string_view(rows[i].name))) {
            return false;
        }
    }
    return true;
}

constexpr std::array<FieldKeyEntry, 16> FieldKeys = {{
    {"ALBUM", PKEY_Music_AlbumTitle},
    {"ALBUM ARTIST", PKEY_Music_AlbumArtist},
    {"ALBUMARTIST", PKEY_Music_AlbumArtist},
    {"ARTIST", PKEY_Music_Artist},
    {"BAND", PKEY_Music_AlbumArtist},
    {"COMMENT", PKEY_Comment},
    {"COMPOSER", PKEY_Music_Composer},
    {"CONDUCTOR", PKEY_Music_Conductor},
    {"COPYRIGHT", PKEY_Copyright},
    {"DATE", PKEY_Media_Year},
    {"DISCNUMBER", PKEY_Music_PartOfSet},
    {"GENRE", PKEY_Music_Genre},
    {"PUBLISHER", PKEY_Media_Publisher},
    {"RATING", PKEY_Rating},
    {"TITLE", PKEY_Title},
    {"TRACKNUMBER", PKEY_Music_TrackNumber},
}};
static_assert(NamesStrictlySorted(FieldKeys), "FieldKeyTable must be sorted by byte order of the names");

} // namespace

const std::span<const FieldKeyEntry> FieldKeyTable{FieldKeys};

const PROPERTYKEY* FindFieldKey(std::string_view name) noexcept
{
    const auto [first, last] = std::equal_range(FieldKeyTable.begin(), FieldKeyTable.end(), name, FieldNameLess{});
    return first != last ? &first->key : nullptr;
}
