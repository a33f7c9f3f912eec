#include "tools/cli/thumbnail_command.h"

#include "resources/identifiers.h"
#include "tools/cli/cli_output.h"
#include "tools/cli/png_writer.h"
#include "tools/cli/value_text.h"

#include <wrl/client.h>

int WriteThumbnail(const ClassSource& classes, const std::wstring& file, const std::wstring& out, UINT size, bool json)
{
    Microsoft::WRL::ComPtr<IStream> stream;
    HRESULT hr = SHCreateStreamOnFileEx(file.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, FILE_ATTRIBUTE_NORMAL, FALSE,
                                        nullptr, &stream);
    if (FAILED(hr)) {
        Fail(file, OpenFailure(file, hr, false), hr);
        return 1;
    }
    Microsoft::WRL::ComPtr<IInitializeWithStream> init;
    hr = classes.Create(CLSID_ThumbnailProvider, IID_PPV_ARGS(&init));
    if (FAILED(hr)) {
        Fail(file, "the thumbnail provider is not available (register it, or give --dll)", hr);
        return 1;
    }
    hr = init->Initialize(stream.Get(), STGM_READ);
    stream.Reset();
    Microsoft::WRL::ComPtr<IThumbnailProvider> provider;
    if (IsImagingError(hr)) {
        // The file was read as FLAC; its picture is what failed.
        Fail(file, "its picture cannot be read", hr);
    } else if (FAILED(hr)) {
        Fail(file, "not a FLAC file, or its picture cannot be read", hr);
    } else {
        hr = init.As(&provider);
    }
    init.Reset();
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    if (SUCCEEDED(hr)) {
        hr = provider->GetThumbnail(size, &bitmap, &alpha);
        provider.Reset();
        if (FAILED(hr)) {
            Fail(file, "no thumbnail (the file has no embedded picture it can show)", hr);
        }
    }
    if (SUCCEEDED(hr)) {
        hr = SaveBitmapAsPng(bitmap, alpha == WTSAT_ARGB, out);
        DeleteObject(bitmap);
        if (FAILED(hr)) {
            Fail(out, "cannot write the PNG file", hr);
        } else if (!json) {
            Out(Utf8(file) + ": thumbnail written to " + Utf8(out) + "\n");
        }
    }
    return FAILED(hr) ? 1 : 0;
}
