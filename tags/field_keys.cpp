#include "tags/field_keys.h"

#include "tags/name_prefix.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>

namespace {

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

// The names' prefixes, in the same order; no two names share one, so a
// prefix finds at most one row.
constexpr auto FieldKeyPrefixes = [] {
    std::array<std::uint64_t, FieldKeys.size()> prefixes{};
    for (std::size_t i = 0; i < FieldKeys.size(); ++i) {
        prefixes[i] = NamePrefix(FieldKeys[i].name);
    }
    return prefixes;
}();
static_assert(std::adjacent_find(FieldKeyPrefixes.begin(), FieldKeyPrefixes.end(), std::greater_equal<>()) ==
                  FieldKeyPrefixes.end(),
              "every field name needs a prefix of its own");

} // namespace

const std::span<const FieldKeyEntry> FieldKeyTable{FieldKeys};

const PROPERTYKEY* FindFieldKey(std::string_view name) noexcept
{
    const std::uint64_t prefix = NamePrefix(name);
    const auto found = std::lower_bound(FieldKeyPrefixes.begin(), FieldKeyPrefixes.end(), prefix);
    if (found == FieldKeyPrefixes.end() || *found != prefix) {
        return nullptr;
    }
    const FieldKeyEntry& row = FieldKeys[static_cast<std::size_t>(found - FieldKeyPrefixes.begin())];
    return name == row.name ? &row.key : nullptr;
}
