// The FLAC files the system test works on. The test makes them itself, so
// that it needs nothing beside it on the machine under test: a known set of
// tags, 3 s of 44.1 kHz 16-bit stereo in STREAMINFO, two solid-colour
// pictures (BMPs, which the Windows photo thumbnail provider decodes) and
// bytes standing in for the audio frames, which nothing here decodes but
// every save must keep byte for byte. The first picture is a back cover and
// the second a front cover of another colour: this product's thumbnail is
// the first picture, so a provider that looks for the front cover (as
// Windows' own support for FLAC may) shows the wrong colour.
#pragma once

#include "platform/platform.h"
#include "tests/support/flac_builder.h"

#include <string>

struct SampleOptions {
    bool id3Prefix = false;
    std::uint32_t padding = 4096;
    COLORREF cover = RGB(200, 30, 40); // the first picture, a back cover
};

// The colour of every sample's second picture, its front cover.
inline constexpr COLORREF FrontCoverColour = RGB(230, 210, 20);

inline constexpr int CoverSize = 256;
inline constexpr std::uint64_t SampleDuration = 30'000'000; // 3 s in 100 ns units
inline constexpr const wchar_t* SampleTitle = L"Notes on the Engine";
inline constexpr const wchar_t* SampleAlbum = L"Analytical";
inline constexpr const wchar_t* SampleArtists[] = {L"Ada Lovelace", L"Charles Babbage"};
inline constexpr unsigned SampleYear = 1843;
inline constexpr unsigned SampleRating = 75; // four stars
inline constexpr unsigned SampleTrack = 7;

Bytes MakeSample(const SampleOptions& options = {});

void WriteFileBytes(const std::wstring& path, const Bytes& bytes);
Bytes ReadFileBytes(const std::wstring& path);
// Whether the file can be opened with no sharing at all: nothing else holds
// a handle to it.
bool OpensExclusively(const std::wstring& path);
// The names of the files in a folder, sorted.
std::wstring FolderListing(const std::wstring& folder);
