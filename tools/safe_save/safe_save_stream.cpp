#include "tools/safe_save/safe_save_stream.h"

#include <aclapi.h>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

HRESULT LastError()
{
    const DWORD error = GetLastError();
    return HRESULT_FROM_WIN32(error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error);
}

// Opens the file itself for reading and writing while others may only read
// it, as a stream over its handle.
HRESULT OpenOriginal(const std::wstring& path, ComPtr<FileHandleStream>& stream)
{
    stream.Reset();
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return LastError();
    }
    const HRESULT hr = FileHandleStream::Create(file, &stream);
    if (FAILED(hr)) {
        CloseHandle(file);
    }
    return hr;
}

// A full path in the \\?\ form, which has no MAX_PATH limit: the copy's
// name is longer than the file's.
std::wstring WithoutLengthLimit(const std::wstring& fullPath)
{
    if (fullPath.rfind(L"\\\\?\\", 0) == 0 || fullPath.rfind(L"\\\\.\\", 0) == 0) {
        return fullPath;
    }
    if (fullPath.rfind(L"\\\\", 0) == 0) {
        return L"\\\\?\\UNC\\" + fullPath.substr(2);
    }
    return L"\\\\?\\" + fullPath;
}

// The name the file system gives the open file: the case it was created
// with, its long name, the target of a symbolic link. Some redirectors and
// volumes without a drive letter cannot give the normalized name; the name
// the file was opened by still leads past a link. Empty where neither can be
// had.
std::wstring FinalName(HANDLE file, PathNameQuery query)
{
    for (const DWORD kind : {DWORD{FILE_NAME_NORMALIZED}, DWORD{FILE_NAME_OPENED}}) {
        std::wstring name(MAX_PATH, L'\0');
        for (int attempt = 0; attempt < 3; ++attempt) {
            const DWORD length = query(file, name.data(), static_cast<DWORD>(name.size()), kind | VOLUME_NAME_DOS);
            if (length == 0) {
                break;
            }
            if (length < name.size()) {
                name.resize(length);
                return name;
            }
            name.resize(length);
        }
    }
    return {};
}

bool IsReparsePoint(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

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

// Whether `name` is one of the copies CopyName makes for `file`, whatever
// the case of the file's name in either: an earlier save may have been given
// the name in another case.
bool IsCopyOf(const std::wstring& name, const std::wstring& file)
{
    constexpr std::size_t Digits = CopyDigits;
    const std::wstring suffix = CopyExtension;
    if (name.size() != file.size() + 1 + Digits + suffix.size() ||
        CompareStringOrdinal(name.c_str(), static_cast<int>(file.size()), file.c_str(), static_cast<int>(file.size()),
                             TRUE) != CSTR_EQUAL ||
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

bool IsEncrypted(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION information{};
    return GetFileInformationByHandle(file, &information) &&
           (information.dwFileAttributes & FILE_ATTRIBUTE_ENCRYPTED) != 0;
}

// The original's named streams (a download's zone mark, say) onto the new
// copy, as replacing the file would keep them. A stream that cannot be copied
// whole fails the copy: the rename would lose it. A file system without
// named streams has none to copy.
HRESULT CopyNamedStreams(const std::wstring& original, const std::wstring& copy)
{
    WIN32_FIND_STREAM_DATA found{};
    const HANDLE search = FindFirstStreamW(original.c_str(), FindStreamInfoStandard, &found, 0);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_HANDLE_EOF || error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
                       error == ERROR_CALL_NOT_IMPLEMENTED
                   ? S_OK
                   : HRESULT_FROM_WIN32(error);
    }
    HRESULT hr = S_OK;
    do {
        const std::wstring name = found.cStreamName;
        if (name == L"::$DATA") {
            continue;
        }
        const HANDLE from = CreateFileW((original + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        const HANDLE to = from == INVALID_HANDLE_VALUE ? INVALID_HANDLE_VALUE
                                                       : CreateFileW((copy + name).c_str(), GENERIC_WRITE, 0, nullptr,
                                                                     CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (to == INVALID_HANDLE_VALUE) {
            hr = LastError();
        }
        std::vector<char> buffer(64 * 1024);
        while (SUCCEEDED(hr)) {
            DWORD read = 0;
            DWORD written = 0;
            if (!ReadFile(from, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
                hr = LastError();
            } else if (read == 0) {
                break;
            } else if (!WriteFile(to, buffer.data(), read, &written, nullptr) || written != read) {
                hr = LastError();
            }
        }
        for (const HANDLE handle : {from, to}) {
            if (handle != INVALID_HANDLE_VALUE) {
                CloseHandle(handle);
            }
        }
    } while (SUCCEEDED(hr) && FindNextStreamW(search, &found));
    if (SUCCEEDED(hr) && GetLastError() != ERROR_HANDLE_EOF) {
        hr = LastError();
    }
    FindClose(search);
    return hr;
}

// What tells whether the file changed: where it is, its size and when it was
// last written.
struct FileState {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    DWORD sizeHigh = 0;
    DWORD sizeLow = 0;
    FILETIME written{};

    bool operator==(const FileState& other) const
    {
        return volume == other.volume && indexHigh == other.indexHigh && indexLow == other.indexLow &&
               sizeHigh == other.sizeHigh && sizeLow == other.sizeLow && CompareFileTime(&written, &other.written) == 0;
    }
};

bool StateOf(HANDLE file, FileState& state)
{
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(file, &information)) {
        return false;
    }
    state = {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow,
             information.nFileSizeHigh,        information.nFileSizeLow,   information.ftLastWriteTime};
    return true;
}

// The state of the file that `path` names now, opened for its attributes
// alone, as any other program may have it open.
bool StateOf(const std::wstring& path, FileState& state)
{
    const HANDLE file =
        CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool known = StateOf(file, state);
    CloseHandle(file);
    return known;
}

// Gives the finished copy what replacing the file would keep of the
// original: its access control list, owner, creation time and attributes. A
// copy that cannot be given the original's access control list does not
// replace it: it could be open to more users than the file was. The owner
// is carried over where the process may set it (it may give ownership only
// to itself, unless it holds the restore privilege); elsewhere the copy
// keeps the editing user as its owner.
HRESULT TakeIdentity(const std::wstring& original, HANDLE copy)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error =
        GetNamedSecurityInfoW(original.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &owner, nullptr, &dacl, nullptr, &descriptor);
    if (error == ERROR_SUCCESS) {
        if (owner != nullptr) {
            SetSecurityInfo(copy, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, owner, nullptr, nullptr, nullptr);
        }
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

HRESULT SafeSaveStream::Open(const std::wstring& path, SafeSaveStream** stream, PathNameQuery nameQuery)
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
    fullPath = WithoutLengthLimit(fullPath);
    ComPtr<FileHandleStream> file;
    const HRESULT hr = OpenOriginal(fullPath, file);
    if (FAILED(hr)) {
        return hr;
    }
    // From here on the file goes by its own name, not the one typed. Where
    // the file system cannot name it, the typed name stands; through a link
    // that name is the link's, which a rewrite must not replace.
    std::wstring finalPath = FinalName(file->Handle(), nameQuery);
    const bool unnamedLink = finalPath.empty() && IsReparsePoint(fullPath);
    if (finalPath.empty()) {
        finalPath = fullPath;
    }
    RemoveStaleCopies(finalPath);
    ComPtr<SafeSaveStream> opened(new (std::nothrow) SafeSaveStream(std::move(finalPath), std::move(file)));
    if (!opened) {
        return E_OUTOFMEMORY;
    }
    opened->m_unnamedLink = unnamedLink;
    *stream = opened.Detach();
    return S_OK;
}

SafeSaveStream::SafeSaveStream(std::wstring path, ComPtr<FileHandleStream> file)
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

IStream* SafeSaveStream::File()
{
    // A save that replaced the file but could not open it again at once (a
    // scanner holding it) opens it on the next call.
    if (!m_file) {
        OpenOriginal(m_path, m_file);
    }
    return m_file.Get();
}

STDMETHODIMP SafeSaveStream::Read(void* buffer, ULONG count, ULONG* read)
{
    IStream* const file = File();
    return file != nullptr ? file->Read(buffer, count, read) : E_UNEXPECTED;
}

STDMETHODIMP SafeSaveStream::Write(const void* buffer, ULONG count, ULONG* written)
{
    IStream* const file = File();
    return file != nullptr ? file->Write(buffer, count, written) : E_UNEXPECTED;
}

STDMETHODIMP SafeSaveStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position)
{
    IStream* const file = File();
    return file != nullptr ? file->Seek(move, origin, position) : E_UNEXPECTED;
}

STDMETHODIMP SafeSaveStream::SetSize(ULARGE_INTEGER size)
{
    IStream* const file = File();
    return file != nullptr ? file->SetSize(size) : E_UNEXPECTED;
}

STDMETHODIMP SafeSaveStream::CopyTo(IStream* to, ULARGE_INTEGER count, ULARGE_INTEGER* read, ULARGE_INTEGER* written)
{
    IStream* const file = File();
    return file != nullptr ? file->CopyTo(to, count, read, written) : E_UNEXPECTED;
}

STDMETHODIMP SafeSaveStream::Commit(DWORD flags)
{
    IStream* const file = File();
    if (file == nullptr) {
        return E_UNEXPECTED;
    }
    if (!m_destination) {
        return file->Commit(flags);
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
    // either way the file is opened again afterwards. A program that changes
    // the file once it is closed would have its change replaced unseen: the
    // file must be as it was when it was closed.
    FileState closed;
    const bool stateKnown = StateOf(m_file->Handle(), closed);
    m_file.Reset();
    FileState now;
    if (!stateKnown || !StateOf(m_path, now) || !(now == closed)) {
        hr = HRESULT_FROM_WIN32(ERROR_FILE_INVALID);
        m_refusal = L"the file changed while the changes were being saved: they were not written, and the file "
                    L"keeps the other program's change";
        DiscardDestination();
    } else if (!DeleteWhenClosed(m_destination->Handle(), false)) {
        hr = LastError();
        DiscardDestination();
    } else if (FAILED(hr = CopyNamedStreams(m_path, m_temporaryPath))) {
        // Named streams can be opened by name only now that the copy is no
        // longer marked; most files have none. One that did not come over
        // would be lost with the rename.
        DiscardDestination();
    } else {
        hr = RenameOver(m_destination->Handle(), m_path);
        if (FAILED(hr)) {
            // A rename can fail and yet have happened (on a share whose reply
            // was lost): the handle may then name the user's file. The copy
            // goes by its own name, which then names nothing, never through
            // the handle.
            m_destination.Reset();
            DeleteFileW(m_temporaryPath.c_str());
        }
    }
    m_destination.Reset();
    // What the rename did is what happened: a file that was replaced but
    // cannot be opened again at once (a scanner holding it) was saved; the
    // next call opens it.
    OpenOriginal(m_path, m_file);
    return hr;
}

STDMETHODIMP SafeSaveStream::Revert()
{
    DiscardDestination();
    return S_OK;
}

STDMETHODIMP SafeSaveStream::LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type)
{
    IStream* const file = File();
    return file != nullptr ? file->LockRegion(offset, count, type) : E_UNEXPECTED;
}

STDMETHODIMP SafeSaveStream::UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type)
{
    IStream* const file = File();
    return file != nullptr ? file->UnlockRegion(offset, count, type) : E_UNEXPECTED;
}

STDMETHODIMP SafeSaveStream::Stat(STATSTG* stat, DWORD flags)
{
    IStream* const file = File();
    return file != nullptr ? file->Stat(stat, flags) : E_UNEXPECTED;
}

STDMETHODIMP SafeSaveStream::Clone(IStream** clone)
{
    if (clone != nullptr) {
        *clone = nullptr;
    }
    return E_NOTIMPL;
}

HRESULT SafeSaveStream::CheckReplaceable(bool& encrypted)
{
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(m_file->Handle(), &information)) {
        return LastError();
    }
    if (information.nNumberOfLinks > 1) {
        // A new file takes only this name; the others would keep the old
        // content, and edits would reach some names and not others.
        m_refusal = L"the file has " + std::to_wstring(information.nNumberOfLinks) +
                    L" names (hard links), and these changes need the whole file rewritten, which would part this "
                    L"name from the others: refused, nothing was changed";
        return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
    }
    encrypted = (information.dwFileAttributes & FILE_ATTRIBUTE_ENCRYPTED) != 0;
    return S_OK;
}

HRESULT SafeSaveStream::CreateCopy(bool encrypted, HANDLE& copy)
{
    // CREATE_NEW: the copy is a new file, or the call fails if a file of
    // that name exists; nobody else's file is ever opened or truncated. An
    // encrypted file's copy is created encrypted. The owner is set on the
    // copy where the process may; where it may not even ask, the copy is
    // made without that right.
    const DWORD attributes = encrypted ? FILE_ATTRIBUTE_ENCRYPTED : FILE_ATTRIBUTE_NORMAL;
    copy = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < CopyNameAttempts && copy == INVALID_HANDLE_VALUE; ++attempt) {
        m_temporaryPath = CopyName(m_path);
        for (const DWORD owner : {DWORD{WRITE_OWNER}, DWORD{0}}) {
            copy = CreateFileW(m_temporaryPath.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE | WRITE_DAC | owner, 0,
                               nullptr, CREATE_NEW, attributes, nullptr);
            if (copy != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED) {
                break;
            }
        }
        if (copy == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    return copy == INVALID_HANDLE_VALUE ? LastError() : S_OK;
}

STDMETHODIMP SafeSaveStream::GetDestinationStream(IStream** destination)
{
    if (destination == nullptr) {
        return E_POINTER;
    }
    *destination = nullptr;
    m_refusal.clear();
    if (File() == nullptr) {
        return E_UNEXPECTED;
    }
    DiscardDestination();
    if (m_unnamedLink) {
        m_refusal = L"the file is reached through a link whose target Windows could not name, and these changes "
                    L"need the whole file rewritten, which would replace the link with a file: refused, nothing "
                    L"was changed";
        return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
    }
    bool encrypted = false;
    HRESULT hr = CheckReplaceable(encrypted);
    HANDLE file = INVALID_HANDLE_VALUE;
    if (SUCCEEDED(hr)) {
        hr = CreateCopy(encrypted, file);
    }
    if (FAILED(hr)) {
        return hr;
    }
    const bool marked = DeleteWhenClosed(file, true);
    if (encrypted && !IsEncrypted(file)) {
        // The file system could not encrypt the copy (a volume without EFS,
        // a user without a key): the file would end up in plain text.
        m_refusal = L"the file is encrypted and these changes need the whole file rewritten, but the new file "
                    L"could not be encrypted: refused, nothing was changed";
        hr = HRESULT_FROM_WIN32(ERROR_ENCRYPTION_FAILED);
    } else {
        hr = FileHandleStream::Create(file, &m_destination);
    }
    if (FAILED(hr)) {
        CloseHandle(file);
        if (!marked) {
            DeleteFileW(m_temporaryPath.c_str());
        }
        return hr;
    }
    return m_destination.CopyTo(destination);
}
