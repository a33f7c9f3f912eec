#include "handler/property_bindings.h"

#include "handler/property_handler.h"

#include <algorithm>
#include <array>

namespace {

template <class Row, std::size_t N> constexpr bool IsStrictlySorted(const std::array<Row, N>& rows)
{
    for (std::size_t i = 1; i < N; ++i) {
        if (CompareKeys(rows[i - 1].key, rows[i].key) >= 0) {
            return false;
        }
    }
    return true;
}

using H = CPropertyHandler;
namespace N = FieldNames;

constexpr std::array<GetterBinding, 22> Getters = {{
    {PKEY_Music_Artist, &H::GetTagStringVectorOf<N::Artist>},
    {PKEY_Music_AlbumTitle, &H::GetTagStringOf<N::Album>},
    {PKEY_Media_Year, &H::GetTagUInt32Of<N::Date>},
    {PKEY_Music_TrackNumber, &H::GetTagUInt32Of<N::TrackNumber>},
    {PKEY_Music_Genre, &H::GetTagStringVectorOf<N::Genre>},
    {PKEY_Music_AlbumArtist, &H::GetTagStringOf<N::AlbumArtist>},
    {PKEY_Music_Conductor, &H::GetTagStringVectorOf<N::Conductor>},
    {PKEY_Music_PartOfSet, &H::GetTagStringOf<N::DiscNumber>},
    {PKEY_Audio_Format, &H::GetAudioFormat},
    {PKEY_Media_Duration, &H::GetMediaDuration},
    {PKEY_Audio_EncodingBitrate, &H::GetAudioEncodingBitrate},
    {PKEY_Audio_SampleRate, &H::GetAudioSampleRate},
    {PKEY_Audio_SampleSize, &H::GetAudioSampleSize},
    {PKEY_Audio_ChannelCount, &H::GetAudioChannelCount},
    {PKEY_Rating, &H::GetTagUInt32Of<N::Rating>},
    {PKEY_Copyright, &H::GetTagStringOf<N::Copyright>},
    {PKEY_Music_Composer, &H::GetTagStringVectorOf<N::Composer>},
    {PKEY_Media_Publisher, &H::GetTagStringOf<N::Publisher>},
    {PKEY_Title, &H::GetTagStringOf<N::Title>},
    {PKEY_Comment, &H::GetTagStringOf<N::Comment>},
    {PKEY_DRM_IsProtected, &H::GetDrmIsProtected},
    {PKEY_Audio_IsVariableBitRate, &H::GetAudioIsVariableBitRate},
}};
static_assert(IsStrictlySorted(Getters), "GetterTable must be sorted in key order for its binary search");

constexpr std::array<SetterBinding, 14> Setters = {{
    {PKEY_Music_Artist, &H::SetTagValuesOf<N::Artist>},
    {PKEY_Music_AlbumTitle, &H::SetTagValuesOf<N::Album>},
    {PKEY_Media_Year, &H::SetTagValuesOf<N::Date>},
    {PKEY_Music_TrackNumber, &H::SetTagValuesOf<N::TrackNumber>},
    {PKEY_Music_Genre, &H::SetTagValuesOf<N::Genre>},
    {PKEY_Music_AlbumArtist, &H::SetTagValuesOf<N::AlbumArtist>},
    {PKEY_Music_Conductor, &H::SetTagValuesOf<N::Conductor>},
    {PKEY_Music_PartOfSet, &H::SetTagValuesOf<N::DiscNumber>},
    {PKEY_Rating, &H::SetTagValuesOf<N::Rating>},
    {PKEY_Copyright, &H::SetTagValuesOf<N::Copyright>},
    {PKEY_Music_Composer, &H::SetTagValuesOf<N::Composer>},
    {PKEY_Media_Publisher, &H::SetTagValuesOf<N::Publisher>},
    {PKEY_Title, &H::SetTagValuesOf<N::Title>},
    {PKEY_Comment, &H::SetTagValuesOf<N::Comment>},
}};
static_assert(IsStrictlySorted(Setters), "SetterTable must be sorted in key order for its binary search");

template <class Row> const Row* FindRow(std::span<const Row> table, const PROPERTYKEY& key) noexcept
{
    const auto found = std::lower_bound(table.begin(), table.end(), key,
                                        [](const Row& row, const PROPERTYKEY& k) { return KeyLess{}(row.key, k); });
    if (found == table.end() || !KeysEqual(found->key, key)) {
        return nullptr;
    }
    return &*found;
}

} // namespace

const std::span<const GetterBinding> GetterTable{Getters};
const std::span<const SetterBinding> SetterTable{Setters};

const GetterBinding* FindGetter(const PROPERTYKEY& key) noexcept
{
    return FindRow(GetterTable, key);
}
const SetterBinding* FindSetter(const PROPERTYKEY& key) noexcept
{
    return FindRow(SetterTable, key);
}
