// The thumbnail provider over any bytes, with the recording stand-in of the
// photo provider: Initialize fails with a failure code or succeeds, a
// provider that failed to initialise has no thumbnail, the picture the
// stand-in is handed is bytes of the file, and nothing is written.
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/com_helpers.h"
#include "tests/support/memory_stream.h"
#include "tests/thumbnail/recording_photo_provider.h"
#include "thumbnail/thumbnail_provider.h"

#include <algorithm>
#include <memory>

namespace {
std::unique_ptr<RecordingPhotoProvider> g_photoProvider;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    InitializeFuzzApartment();
    g_photoProvider = std::make_unique<RecordingPhotoProvider>();
    FUZZ_CHECK(g_photoProvider->RegistrationResult() == S_OK);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Bytes bytes(data, data + size);
    auto stream = MemoryStream::Create(bytes);
    const int handedBefore = g_photoProvider->Calls().initializeCalls;
    {
        ComPtr<IThumbnailProvider> provider;
        FUZZ_CHECK(CThumbnailProvider::CreateInstance(nullptr, __uuidof(IThumbnailProvider), &provider) == S_OK);
        auto init = As<IInitializeWithStream>(provider);
        FUZZ_CHECK(init);
        const HRESULT hr = init->Initialize(stream.Get(), STGM_READ);
        FUZZ_CHECK(hr == S_OK || FAILED(hr));
        HBITMAP bitmap = nullptr;
        WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
        const HRESULT thumbnail = provider->GetThumbnail(32, &bitmap, &alpha);
        FUZZ_CHECK(hr == S_OK || thumbnail == E_FAIL);
        if (bitmap != nullptr) {
            DeleteObject(bitmap);
        }
    }
    const RecordedCalls& calls = g_photoProvider->Calls();
    if (calls.initializeCalls != handedBefore && !calls.bytes.empty()) {
        FUZZ_CHECK(std::search(bytes.begin(), bytes.end(), calls.bytes.begin(), calls.bytes.end()) != bytes.end());
    }
    FUZZ_CHECK(stream->Calls(StreamCall::Write) == 0);
    FUZZ_CHECK(stream->RefCount() == 1);
    return 0;
}
