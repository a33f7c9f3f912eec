#include "binding/details_layout.h"

#include "propkeys/property_names.h"

namespace {

bool IsAudioProperty(const std::wstring& name)
{
    return name.starts_with(L"System.Audio.") || name.starts_with(L"System.DRM.") || name == L"System.Media.Duration";
}

// The canonical names of the tags (or of the audio properties), in table
// order, separated by ';'.
std::wstring Names(bool audio)
{
    std::wstring names;
    for (const PropertyName& property : KnownProperties()) {
        if (IsAudioProperty(property.canonical) == audio) {
            names += (names.empty() ? L"" : L";") + std::wstring(property.canonical);
        }
    }
    return names;
}

} // namespace

std::wstring PreviewDetailsList()
{
    return L"prop:*System.Media.Duration;*System.Size;" + Names(false) +
           L";System.Audio.EncodingBitrate;System.Audio.SampleRate;System.Audio.ChannelCount";
}

std::wstring FullDetailsList()
{
    return L"prop:System.PropGroup.Description;" + Names(false) + L";System.PropGroup.Audio;" + Names(true) +
           L";System.PropGroup.FileSystem;System.ItemNameDisplay;System.ItemTypeText;System.ItemFolderPathDisplay;"
           L"System.Size;System.DateCreated;System.DateModified;System.FileAttributes";
}

std::wstring InfoTipList()
{
    return L"prop:System.ItemTypeText;System.Music.Artist;System.Music.AlbumTitle;System.Title;System.Media.Duration;"
           L"System.Size";
}

std::wstring ExtendedTileInfoList()
{
    return L"prop:System.ItemTypeText;System.Music.Artist;System.Media.Duration";
}
