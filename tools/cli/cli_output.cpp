#include "tools/cli/cli_output.h"

#include "tools/cli/value_text.h"

#include <cstdio>

namespace {

OutputKind StdoutKind = OutputKind::Utf8Bytes;
OutputKind StderrKind = OutputKind::Utf8Bytes;

// The imaging component's facility (FACILITY_WINCODEC_ERR), and the codes
// of it that a picture can give.
constexpr int ImagingFacility = 0x898;
struct ImagingError {
    HRESULT hr;
    const char* text;
};
constexpr ImagingError ImagingErrors[] = {
    {WINCODEC_ERR_WRONGSTATE, "the imaging component was called in the wrong state"},
    {WINCODEC_ERR_VALUEOUTOFRANGE, "a value of the picture is out of range"},
    {WINCODEC_ERR_UNKNOWNIMAGEFORMAT, "unknown picture format"},
    {WINCODEC_ERR_UNSUPPORTEDVERSION, "unsupported version of the picture's format"},
    {WINCODEC_ERR_NOTINITIALIZED, "the imaging component is not initialized"},
    {WINCODEC_ERR_PROPERTYNOTFOUND, "the picture has no such property"},
    {WINCODEC_ERR_CODECNOTHUMBNAIL, "the decoder has no thumbnail of the picture"},
    {WINCODEC_ERR_PALETTEUNAVAILABLE, "the picture has no palette"},
    {WINCODEC_ERR_CODECTOOMANYSCANLINES, "too many scan lines in the picture"},
    {WINCODEC_ERR_INTERNALERROR, "internal error of the imaging component"},
    {WINCODEC_ERR_SOURCERECTDOESNOTMATCHDIMENSIONS, "the area asked for is not within the picture"},
    {WINCODEC_ERR_COMPONENTNOTFOUND, "no decoder for the picture's format"},
    {WINCODEC_ERR_IMAGESIZEOUTOFRANGE, "the picture is too large"},
    {WINCODEC_ERR_TOOMUCHMETADATA, "too much metadata in the picture"},
    {WINCODEC_ERR_BADIMAGE, "the picture is damaged"},
    {WINCODEC_ERR_BADHEADER, "the picture's header is damaged"},
    {WINCODEC_ERR_FRAMEMISSING, "the picture has no frame"},
    {WINCODEC_ERR_BADMETADATAHEADER, "the picture's metadata header is damaged"},
    {WINCODEC_ERR_BADSTREAMDATA, "the picture's data is damaged"},
    {WINCODEC_ERR_STREAMWRITE, "the picture cannot be written"},
    {WINCODEC_ERR_STREAMREAD, "the picture cannot be read"},
    {WINCODEC_ERR_STREAMNOTAVAILABLE, "the picture's stream is not available"},
    {WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT, "unsupported pixel format"},
    {WINCODEC_ERR_UNSUPPORTEDOPERATION, "the decoder cannot do this"},
    {WINCODEC_ERR_INVALIDREGISTRATION, "a decoder is registered wrongly"},
    {WINCODEC_ERR_COMPONENTINITIALIZEFAILURE, "the picture's decoder failed to start"},
    {WINCODEC_ERR_INSUFFICIENTBUFFER, "buffer too small for the picture"},
    {WINCODEC_ERR_UNEXPECTEDSIZE, "the picture has an unexpected size"},
    {WINCODEC_ERR_WIN32ERROR, "system error in the imaging component"},
};

} // namespace

void ChooseCliOutput(HANDLE stdoutHandle, HANDLE stderrHandle)
{
    StdoutKind = ChooseOutput(stdoutHandle);
    StderrKind = ChooseOutput(stderrHandle);
}

void Out(const std::string& text)
{
    WriteText(stdout, StdoutKind, text);
}

void Err(const std::string& text)
{
    WriteText(stderr, StderrKind, text);
    std::fflush(stderr);
}

bool IsImagingError(HRESULT hr)
{
    return FAILED(hr) && HRESULT_FACILITY(hr) == ImagingFacility;
}

std::string ErrorText(HRESULT hr)
{
    if (IsImagingError(hr)) {
        for (const ImagingError& known : ImagingErrors) {
            if (known.hr == hr) {
                return known.text;
            }
        }
    }
    const std::string text = SystemText(hr);
    if (!text.empty()) {
        return text;
    }
    return IsImagingError(hr) ? "error of the imaging component" : "unknown error";
}

HRESULT Fail(const std::wstring& subject, const std::string& what, HRESULT hr)
{
    Err(std::string("quillbrook-cli: ") + (subject.empty() ? "" : Utf8(subject) + ": ") + what + " (" + Hex(hr) + ": " +
        ErrorText(hr) + ")\n");
    return hr;
}

void ConsoleReport::Out(const std::string& text)
{
    ::Out(text);
}

void ConsoleReport::Fail(const std::string& what, HRESULT hr)
{
    ::Fail(L"", what, hr);
}

std::string OpenFailure(const std::wstring& file, HRESULT hr, bool forWriting)
{
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) ||
        hr == STG_E_FILENOTFOUND || hr == STG_E_PATHNOTFOUND) {
        return "file not found";
    }
    const DWORD attributes = GetFileAttributesW(file.c_str());
    if (forWriting && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return "read-only file, left unchanged";
    }
    if (forWriting && (hr == E_ACCESSDENIED || hr == STG_E_ACCESSDENIED || hr == STG_E_SHAREVIOLATION ||
                       hr == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION))) {
        return "cannot be opened for writing (read-only or in use)";
    }
    return "cannot be opened";
}
