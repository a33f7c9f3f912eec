#include "tools/safe_save/safe_save_stream.h"

#include <cwchar>
#include <new>

using Microsoft::WRL::ComPtr;

namespace {

HRESULT OpenFileStream(const std::wstring& path, DWORD mode, BOOL create, IStream** stream)
{
    return SHCreateStreamOnFileEx(path.c_str(), mode, FILE_ATTRIBUTE_NORMAL, create, nullptr, stream);
}

constexpr DWORD OriginalMode = STGM_READWRITE | STGM_SHARE_DENY_WRITE;
// STGM_FAILIFTHERE with fCreate: the file is created, or the call fails if a
// file of that name exists; nobody else's file is ever opened or truncated.
constexpr DWORD CopyMode = STGM_FAILIFTHERE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
constexpr int CopyNameAttempts = 64;

bool IsNameTaken(HRESULT hr)
{
    return hr == HRESULT_FROM_WIN32(ERROR_FILE_EXISTS) || hr == HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) ||
           hr == STG_E_FILEALREADYEXISTS;
}

// A name beside `path` that differs from one call to the next.
std::wstring CopyName(const std::wstring& path)
{
    static LONG counter = 0;
    LARGE_INTEGER ticks{};
    QueryPerformanceCounter(&ticks);
    const unsigned long mixed = static_cast<unsigned long>(ticks.LowPart) * 2654435761UL ^
                                GetCurrentProcessId() * 40503UL ^
                                static_cast<unsigned long>(InterlockedIncrement(&counter));
    wchar_t suffix[24] = {};
    std::swprintf(suffix, 24, L".%08lx.qbsave", mixed & 0xFFFFFFFFUL);
    return path + suffix;
}

// Readies the finished copy to take the original's place: its bytes on disk,
// and the original's creation time and attributes on it. ReplaceFileW carries
// those over itself on Windows; setting them first keeps them where replacing
// comes down to a rename (some network file systems, Wine).
void PrepareCopy(const std::wstring& original, const std::wstring& copy)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    const bool known = GetFileAttributesExW(original.c_str(), GetFileExInfoStandard, &data) != FALSE;
    const HANDLE file =
        CreateFileW(copy.c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        FlushFileBuffers(file);
        if (known) {
            SetFileTime(file, &data.ftCreationTime, nullptr, nullptr);
        }
        CloseHandle(file);
    }
    constexpr DWORD Carried =
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    if (known && (data.dwFileAttributes & Carried) != 0) {
        SetFileAttributesW(copy.c_str(), data.dwFileAttributes & Carried);
    }
}

} // namespace

HRESULT SafeSaveStream::Open(const std::wstring& path, SafeSaveStream** stream)
{
    if (stream == nullptr) {
        return E_POINTER;
    }
    *stream = nullptr;
    // Windows refuses to open a read-only file for writing; so does this
    // stream where the process could write it anyway (root under Wine).
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    }
    // The full name: the copy goes beside the file and takes its place by
    // that name later, whatever the current directory is by then.
    const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring fullPath(length, L'\0');
    if (length == 0 || GetFullPathNameW(path.c_str(), length, fullPath.data(), nullptr) + 1 != length) {
        return HRESULT_FROM_WIN32(length == 0 ? GetLastError() : ERROR_INVALID_NAME);
    }
    fullPath.resize(length - 1);
    ComPtr<IStream> file;
    const HRESULT hr = OpenFileStream(fullPath, OriginalMode, FALSE, &file);
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<SafeSaveStream> opened(new (std::nothrow) SafeSaveStream(std::move(fullPath), std::move(file)));
    if (!opened) {
        return E_OUTOFMEMORY;
    }
    *stream = opened.Detach();
    return S_OK;
}

SafeSaveStream::SafeSaveStream(std::wstring path, ComPtr<IStream> file)
    : m_path(std::move(path)), m_file(std::move(file))
{
}

SafeSaveStream::~SafeSaveStream()
{
    DiscardDestination();
}

void SafeSaveStream::DiscardDestination()
{
    if (m_destination) {
        m_destination.Reset();
        DeleteFileW(m_temporaryPath.c_str());
    }
}

STDMETHODIMP SafeSaveStream::Read(void* buffer, ULONG count, ULONG* read)
{
    return m_file ? m_file->Read(buffer, count, read) : E_UNEXPECTED;
}

STDMETHODIMP SafeSaveStream::Write(const void* buffer, ULONG count, ULONG* written)
{
    return m_file ? m_file->Write(buffer, count, written) : E_UNEXPECTED;
}

STDMETHODIMP SafeSaveStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position)
{
    return m_file ? m_file->Seek(move, origin, position) : E_UNEXPECTED;
}

STDMETHODIMP SafeSaveStream::SetSize(ULARGE_INTEGER size)
{
    return m_file ? m_file->SetSize(size) : E_UNEXPECTED;
}

STDMETHODIMP SafeSaveStream::CopyTo(IStream* to, ULARGE_INTEGER count, ULARGE_INTEGER* read, ULARGE_INTEGER* written)
{
    return m_file ? m_file->CopyTo(to, count, read, written) : E_UNEXPECTED;
}

STDMETHODIMP SafeSaveStream::Commit(DWORD flags)
{
    if (!m_file) {
        return E_UNEXPECTED;
    }
    if (!m_destination) {
        return m_file->Commit(flags);
    }
    HRESULT hr = m_destination->Commit(flags);
    if (FAILED(hr)) {
        DiscardDestination();
        return hr;
    }
    m_destination.Reset();
    PrepareCopy(m_path, m_temporaryPath);
    // The original is closed so that the finished copy can take its place;
    // either way the file is open again afterwards. ReplaceFileW gives the
    // copy the original's identity: its DACL, alternate data streams,
    // attributes, creation time, short name and object identifier. Hard
    // links are not among them: the original's other names go on naming its
    // old content, as with any replace of a whole file.
    m_file.Reset();
    if (!ReplaceFileW(m_path.c_str(), m_temporaryPath.c_str(), nullptr, 0, nullptr, nullptr)) {
        const DWORD error = GetLastError();
        hr = HRESULT_FROM_WIN32(error);
        if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
            // The original is gone and the finished copy still has its own
            // name: it is the file's only content now. It takes the file's
            // name (without the original's metadata) or, failing that, stays
            // where it is; it is never deleted.
            MoveFileExW(m_temporaryPath.c_str(), m_path.c_str(), MOVEFILE_WRITE_THROUGH);
        } else {
            // The original is untouched under its name.
            DeleteFileW(m_temporaryPath.c_str());
        }
    }
    const HRESULT reopened = OpenFileStream(m_path, OriginalMode, FALSE, &m_file);
    return FAILED(hr) ? hr : reopened;
}

STDMETHODIMP SafeSaveStream::Revert()
{
    DiscardDestination();
    return S_OK;
}

STDMETHODIMP SafeSaveStream::LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type)
{
    return m_file ? m_file->LockRegion(offset, count, type) : E_UNEXPECTED;
}

STDMETHODIMP SafeSaveStream::UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type)
{
    return m_file ? m_file->UnlockRegion(offset, count, type) : E_UNEXPECTED;
}

STDMETHODIMP SafeSaveStream::Stat(STATSTG* stat, DWORD flags)
{
    return m_file ? m_file->Stat(stat, flags) : E_UNEXPECTED;
}

STDMETHODIMP SafeSaveStream::Clone(IStream** clone)
{
    if (clone != nullptr) {
        *clone = nullptr;
    }
    return E_NOTIMPL;
}

STDMETHODIMP SafeSaveStream::GetDestinationStream(IStream** destination)
{
    if (destination == nullptr) {
        return E_POINTER;
    }
    *destination = nullptr;
    if (!m_file) {
        return E_UNEXPECTED;
    }
    DiscardDestination();
    HRESULT hr = E_FAIL;
    for (int attempt = 0; attempt < CopyNameAttempts; ++attempt) {
        m_temporaryPath = CopyName(m_path);
        hr = OpenFileStream(m_temporaryPath, CopyMode, TRUE, &m_destination);
        if (!IsNameTaken(hr)) {
            break;
        }
    }
    if (FAILED(hr)) {
        return hr;
    }
    return m_destination.CopyTo(destination);
}
