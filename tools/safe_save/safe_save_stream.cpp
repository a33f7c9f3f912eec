#include "tools/safe_save/safe_save_stream.h"

#include <aclapi.h>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

HRESULT OpenFileStream(const std::wstring& path, DWORD mode, BOOL create, IStream** stream)
{
    return SHCreateStreamOnFileEx(path.c_str(), mode, FILE_ATTRIBUTE_NORMAL, create, nullptr, stream);
}

constexpr DWORD OriginalMode = STGM_READWRITE | STGM_SHARE_DENY_WRITE;
constexpr int CopyNameAttempts = 64;
// A copy's name: the file's name, a dot, CopyDigits lower-case hexadecimal
// digits and CopyExtension.
constexpr std::size_t CopyDigits = 8;
constexpr wchar_t CopyExtension[] = L".qbsave";

// A name beside `path` that differs from one call to the next.
std::wstring CopyName(const std::wstring& path)
{
    static LONG counter = 0;
    LARGE_INTEGER ticks{};
    QueryPerformanceCounter(&ticks);
    const unsigned long mixed = static_cast<unsigned long>(ticks.LowPart) * 2654435761UL ^
                                GetCurrentProcessId() * 40503UL ^
                                static_cast<unsigned long>(InterlockedIncrement(&counter));
    wchar_t digits[CopyDigits + 1] = {};
    std::swprintf(digits, CopyDigits + 1, L"%08lx", mixed & 0xFFFFFFFFUL);
    return path + L"." + digits + CopyExtension;
}

// Whether `name` is one of the copies CopyName makes for `file`.
bool IsCopyOf(const std::wstring& name, const std::wstring& file)
{
    constexpr std::size_t Digits = CopyDigits;
    const std::wstring suffix = CopyExtension;
    if (name.size() != file.size() + 1 + Digits + suffix.size() || name.compare(0, file.size(), file) != 0 ||
        name[file.size()] != L'.' || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return false;
    }
    for (std::size_t i = file.size() + 1; i < file.size() + 1 + Digits; ++i) {
        if (!((name[i] >= L'0' && name[i] <= L'9') || (name[i] >= L'a' && name[i] <= L'f'))) {
            return false;
        }
    }
    return true;
}

// Removes the copies that saves of `path` killed in the instant between
// creating their copy and marking it left behind. A copy that a running save
// has open cannot be deleted (it is open without FILE_SHARE_DELETE), and a
// file of any other name is never touched.
void RemoveStaleCopies(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
    const std::wstring file = path.substr(folder.size());
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileExW((path + L".*" + CopyExtension).c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && IsCopyOf(found.cFileName, file)) {
            DeleteFileW((folder + found.cFileName).c_str());
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// Whether the copy goes when its handle closes: set while it is written, so
// that a save that is killed or fails leaves nothing behind, and cleared
// just before it takes the file's name.
bool DeleteWhenClosed(HANDLE copy, bool remove)
{
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    return SetFileInformationByHandle(copy, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

// The original's named streams (a download's zone mark, say) onto the new
// copy, as replacing the file would keep them.
void CopyNamedStreams(const std::wstring& original, const std::wstring& copy)
{
    WIN32_FIND_STREAM_DATA found{};
    const HANDLE search = FindFirstStreamW(original.c_str(), FindStreamInfoStandard, &found, 0);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const std::wstring name = found.cStreamName;
        if (name == L"::$DATA") {
            continue;
        }
        const HANDLE from = CreateFileW((original + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        const HANDLE to =
            CreateFileW((copy + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        char buffer[64 * 1024];
        DWORD read = 0;
        DWORD written = 0;
        while (from != INVALID_HANDLE_VALUE && to != INVALID_HANDLE_VALUE &&
               ReadFile(from, buffer, sizeof(buffer), &read, nullptr) && read != 0 &&
               WriteFile(to, buffer, read, &written, nullptr)) {
        }
        for (const HANDLE handle : {from, to}) {
            if (handle != INVALID_HANDLE_VALUE) {
                CloseHandle(handle);
            }
        }
    } while (FindNextStreamW(search, &found));
    FindClose(search);
}

// Gives the finished copy what replacing the file would keep of the
// original: its access control list, creation time and attributes. A copy
// that cannot be given the original's access control list does not replace
// it: it could be open to more users than the file was.
HRESULT TakeIdentity(const std::wstring& original, HANDLE copy)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = GetNamedSecurityInfoW(original.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                        &dacl, nullptr, &descriptor);
    if (error == ERROR_SUCCESS) {
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        GetSecurityDescriptorControl(descriptor, &control, &revision);
        // An inherited list stays inherited from the folder, which the copy
        // shares; a protected one is taken as it is.
        const SECURITY_INFORMATION what =
            DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                            : UNPROTECTED_DACL_SECURITY_INFORMATION);
        error = SetSecurityInfo(copy, SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
        LocalFree(descriptor);
    }
    if (error != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(error);
    }
    WIN32_FILE_ATTRIBUTE_DATA data{};
    FILE_BASIC_INFO basic{};
    if (GetFileAttributesExW(original.c_str(), GetFileExInfoStandard, &data) &&
        GetFileInformationByHandleEx(copy, FileBasicInfo, &basic, sizeof(basic))) {
        constexpr DWORD Carried =
            FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
        basic.CreationTime.LowPart = data.ftCreationTime.dwLowDateTime;
        basic.CreationTime.HighPart = static_cast<LONG>(data.ftCreationTime.dwHighDateTime);
        basic.FileAttributes =
            (data.dwFileAttributes & Carried) != 0 ? data.dwFileAttributes & Carried : FILE_ATTRIBUTE_NORMAL;
        SetFileInformationByHandle(copy, FileBasicInfo, &basic, sizeof(basic));
    }
    return S_OK;
}

// Puts the copy in the original's place in one step: a rename that replaces
// the original, atomic on NTFS (and on POSIX file systems under Wine), so
// that whenever the process stops the file is the old one or the new one.
HRESULT RenameOver(HANDLE copy, const std::wstring& original)
{
    const std::size_t nameBytes = original.size() * sizeof(wchar_t);
    std::vector<std::uint8_t> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto* const rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    std::memcpy(rename->FileName, original.c_str(), nameBytes);
    if (!SetFileInformationByHandle(copy, FileRenameInfo, rename, static_cast<DWORD>(buffer.size()))) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    // The new name on the disk before the save reports success.
    FlushFileBuffers(copy);
    return S_OK;
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
    RemoveStaleCopies(fullPath);
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
    if (!m_destination) {
        return;
    }
    // Marked to go when closed from the start; where the file system would
    // not mark it, it is deleted by name once closed.
    const bool marked = DeleteWhenClosed(m_destination->Handle(), true);
    m_destination.Reset();
    if (!marked) {
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
    if (SUCCEEDED(hr)) {
        hr = TakeIdentity(m_path, m_destination->Handle());
    }
    if (FAILED(hr)) {
        DiscardDestination();
        return hr;
    }
    // The original is closed so that the finished copy can take its name;
    // either way the file is open again afterwards. Hard links are not
    // carried over: the original's other names go on naming its old
    // content, as with any replace of a whole file.
    m_file.Reset();
    if (!DeleteWhenClosed(m_destination->Handle(), false)) {
        hr = HRESULT_FROM_WIN32(GetLastError());
    } else {
        // Named streams can be opened by name only now that the copy is no
        // longer marked; most files have none.
        CopyNamedStreams(m_path, m_temporaryPath);
        hr = RenameOver(m_destination->Handle(), m_path);
    }
    if (FAILED(hr)) {
        // The original is untouched under its name.
        DiscardDestination();
    }
    m_destination.Reset();
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
    // CREATE_NEW: the copy is a new file, or the call fails if a file of
    // that name exists; nobody else's file is ever opened or truncated.
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < CopyNameAttempts && file == INVALID_HANDLE_VALUE; ++attempt) {
        m_temporaryPath = CopyName(m_path);
        file = CreateFileW(m_temporaryPath.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE | WRITE_DAC, 0, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    if (file == INVALID_HANDLE_VALUE) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    const bool marked = DeleteWhenClosed(file, true);
    HRESULT hr = FileHandleStream::Create(file, &m_destination);
    if (FAILED(hr)) {
        CloseHandle(file);
        if (!marked) {
            DeleteFileW(m_temporaryPath.c_str());
        }
        return hr;
    }
    return m_destination.CopyTo(destination);
}
