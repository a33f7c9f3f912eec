// Creating thumbnail providers over test streams.
#pragma once

#include "tests/support/com_helpers.h"
#include "tests/support/flac_builder.h"
#include "tests/support/memory_stream.h"
#include "thumbnail/thumbnail_provider.h"

inline ComPtr<IThumbnailProvider> NewThumbnailProvider()
{
    ComPtr<IThumbnailProvider> provider;
    CThumbnailProvider::CreateInstance(nullptr, __uuidof(IThumbnailProvider), &provider);
    return provider;
}

inline HRESULT InitializeWith(IThumbnailProvider* provider, IStream* stream, DWORD mode = STGM_READ)
{
    ComPtr<IInitializeWithStream> init;
    provider->QueryInterface(IID_IInitializeWithStream, &init);
    return init->Initialize(stream, mode);
}

inline ComPtr<MemoryStream> StreamOver(const Bytes& bytes)
{
    return MemoryStream::Create(bytes);
}

// A FLAC stream whose metadata holds the given pictures, in order.
inline Bytes FlacWithPictures(const std::vector<std::pair<std::uint32_t, Bytes>>& pictures)
{
    FlacBuilder builder;
    builder.StreamInfo().VorbisComment({"TITLE=x"});
    for (const auto& [type, data] : pictures) {
        builder.Picture(type, "image/png", data);
    }
    return builder.Padding(64).Audio(500).Build();
}
