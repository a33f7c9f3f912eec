#include "bench/replacement_probe.h"

#include "tools/safe_save/safe_save_stream.h"

#include <wrl/client.h>

#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

bool IdentifyFile(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info)
{
    const HANDLE file =
        CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const BOOL ok = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return ok != FALSE;
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

bool FileHolds(const std::wstring& path, const std::vector<BYTE>& expected)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    std::vector<BYTE> bytes(expected.size() + 1);
    DWORD read = 0;
    const BOOL ok = ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(file);
    bytes.resize(read);
    return ok && bytes == expected;
}

HRESULT WriteCopy(SafeSaveStream* stream, const std::vector<BYTE>& bytes)
{
    ComPtr<IStream> destination;
    HRESULT hr = stream->GetDestinationStream(&destination);
    if (FAILED(hr)) {
        return hr;
    }
    ULONG written = 0;
    hr = destination->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    return FAILED(hr) ? hr : written == bytes.size() ? S_OK : E_FAIL;
}

} // namespace

HRESULT ProbeReplacement(const CorpusFile& file, const std::wstring& scratch, ReplacementSeen& seen)
{
    if (!CopyFileW(file.path.c_str(), scratch.c_str(), FALSE)) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    BY_HANDLE_FILE_INFORMATION before{};
    if (!IdentifyFile(scratch, before)) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    // Not the file's own bytes, so that the copy cannot be mistaken for it.
    std::vector<BYTE> copy(4096);
    for (std::size_t i = 0; i < copy.size(); ++i) {
        copy[i] = static_cast<BYTE>(i * 7 + 1);
    }
    ComPtr<SafeSaveStream> stream;
    HRESULT hr = SafeSaveStream::Open(scratch, &stream);
    if (SUCCEEDED(hr)) {
        hr = WriteCopy(stream.Get(), copy);
    }
    if (SUCCEEDED(hr)) {
        hr = stream->Commit(STGC_DEFAULT);
    }
    if (SUCCEEDED(hr)) {
        BY_HANDLE_FILE_INFORMATION after{};
        seen.holdsCopy = FileHolds(scratch, copy);
        seen.newFile = IdentifyFile(scratch, after) && !SameFile(before, after);
        seen.copyNameGone = GetFileAttributesW(stream->TemporaryPath().c_str()) == INVALID_FILE_ATTRIBUTES;
        const LARGE_INTEGER zero{};
        ULARGE_INTEGER size{};
        seen.streamFollows = SUCCEEDED(stream->Seek(zero, STREAM_SEEK_END, &size)) && size.QuadPart == copy.size();
    }
    stream.Reset();
    DeleteFileW(scratch.c_str());
    return hr;
}
