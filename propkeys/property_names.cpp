#include "propkeys/property_names.h"

#include <array>
#include <cwchar>

namespace {

constexpr std::array<PropertyName, 22> Properties = {{
    {PKEY_Title, L"System.Title", L"title", ValueKind::Text},
    {PKEY_Music_Artist, L"System.Music.Artist", L"artist", ValueKind::TextList},
    {PKEY_Music_AlbumTitle, L"System.Music.AlbumTitle", L"album", ValueKind::Text},
    {PKEY_Music_AlbumArtist, L"System.Music.AlbumArtist", L"albumartist", ValueKind::Text},
    {PKEY_Media_Year, L"System.Media.Year", L"year", ValueKind::Number},
    {PKEY_Music_TrackNumber, L"System.Music.TrackNumber", L"track", ValueKind::Number},
    {PKEY_Music_PartOfSet, L"System.Music.PartOfSet", L"disc", ValueKind::Text},
    {PKEY_Music_Genre, L"System.Music.Genre", L"genre", ValueKind::TextList},
    {PKEY_Music_Composer, L"System.Music.Composer", L"composer", ValueKind::TextList},
    {PKEY_Music_Conductor, L"System.Music.Conductor", L"conductor", ValueKind::TextList},
    {PKEY_Rating, L"System.Rating", L"rating", ValueKind::Number},
    {PKEY_Copyright, L"System.Copyright", L"copyright", ValueKind::Text},
    {PKEY_Media_Publisher, L"System.Media.Publisher", L"publisher", ValueKind::Text},
    {PKEY_Comment, L"System.Comment", L"comment", ValueKind::Text},
    {PKEY_Media_Duration, L"System.Media.Duration", L"duration", ValueKind::Duration},
    {PKEY_Audio_EncodingBitrate, L"System.Audio.EncodingBitrate", L"bitrate", ValueKind::BitRate},
    {PKEY_Audio_SampleRate, L"System.Audio.SampleRate", L"samplerate", ValueKind::Number},
    {PKEY_Audio_SampleSize, L"System.Audio.SampleSize", L"samplesize", ValueKind::Number},
    {PKEY_Audio_ChannelCount, L"System.Audio.ChannelCount", L"channels", ValueKind::Number},
    {PKEY_Audio_Format, L"System.Audio.Format", L"format", ValueKind::Text},
    {PKEY_Audio_IsVariableBitRate, L"System.Audio.IsVariableBitRate", L"vbr", ValueKind::Flag},
    {PKEY_DRM_IsProtected, L"System.DRM.IsProtected", L"drm", ValueKind::Flag},
}};

// Wine's propsys exports the name lookup as a stub that aborts the process.
bool PlatformKnowsPropertyNames()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr;
}

// propsys.dll is no known DLL: imported, it would be looked for beside the
// program first. It is loaded from the system folder only, when first needed.
using GetNameFunction = HRESULT(WINAPI*)(REFPROPERTYKEY, PWSTR*);
GetNameFunction PlatformGetName()
{
    const HMODULE propsys = LoadLibraryExW(L"propsys.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return propsys == nullptr ? nullptr
                              : reinterpret_cast<GetNameFunction>(
                                    reinterpret_cast<void (*)()>(GetProcAddress(propsys, "PSGetNameFromPropertyKey")));
}

bool SameKey(const PROPERTYKEY& a, const PROPERTYKEY& b)
{
    return IsEqualGUID(a.fmtid, b.fmtid) && a.pid == b.pid;
}

} // namespace

std::span<const PropertyName> KnownProperties()
{
    return Properties;
}

const PropertyName* FindProperty(const std::wstring& name)
{
    for (const PropertyName& property : Properties) {
        if (_wcsicmp(name.c_str(), property.canonical) == 0 || _wcsicmp(name.c_str(), property.alias) == 0) {
            return &property;
        }
    }
    return nullptr;
}

const PropertyName* FindProperty(const PROPERTYKEY& key)
{
    for (const PropertyName& property : Properties) {
        if (SameKey(property.key, key)) {
            return &property;
        }
    }
    return nullptr;
}

std::wstring CanonicalName(const PROPERTYKEY& key)
{
    PWSTR platformName = nullptr;
    static const GetNameFunction getName = PlatformKnowsPropertyNames() ? PlatformGetName() : nullptr;
    if (getName != nullptr && SUCCEEDED(getName(key, &platformName)) && platformName != nullptr) {
        std::wstring name = platformName;
        CoTaskMemFree(platformName);
        return name;
    }
    if (const PropertyName* property = FindProperty(key)) {
        return property->canonical;
    }
    wchar_t guid[64] = {};
    StringFromGUID2(key.fmtid, guid, 64);
    return std::wstring(guid) + L" " + std::to_wstring(key.pid);
}
