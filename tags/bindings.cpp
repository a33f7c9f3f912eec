#include "tags/bindings.h"

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

constexpr std::array<GetterBinding, 8> Getters = {{
    {PKEY_Audio_Format, &CPropertyHandler::GetAudioFormat},
    {PKEY_Media_Duration, &CPropertyHandler::GetMediaDuration},
    {PKEY_Audio_EncodingBitrate, &CPropertyHandler::GetAudioEncodingBitrate},
    {PKEY_Audio_SampleRate, &CPropertyHandler::GetAudioSampleRate},
    {PKEY_Audio_SampleSize, &CPropertyHandler::GetAudioSampleSize},
    {PKEY_Audio_ChannelCount, &CPropertyHandler::GetAudioChannelCount},
    {PKEY_DRM_IsProtected, &CPropertyHandler::GetDrmIsProtected},
    {PKEY_Audio_IsVariableBitRate, &CPropertyHandler::GetAudioIsVariableBitRate},
}};
static_assert(IsStrictlySorted(Getters), "GetterTable must be sorted in key order for its binary search");

constexpr std::array<SetterBinding, 0> Setters = {};

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
