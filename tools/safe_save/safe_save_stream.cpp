#include "tools/safe_save/safe_save_stream.h"

#include <new>

namespace {

HRESULT OpenFileStream(const std::wstring& path, DWORD mode, BOOL create, IStream** stream)
{
    return SHCreateStreamOnFileEx(path.c_str(), mode, FILE_ATTRIBUTE_NORMAL, create, nullptr, stream);
}

constexpr DWORD OriginalMode = STGM_READWRITE | STGM_SHARE_DENY_WRITE;

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
    IStream* file = nullptr;
    const HRESULT hr = OpenFileStream(path, OriginalMode, FALSE, &file);
    if (FAILED(hr)) {
        return hr;
    }
    *stream = new (std::nothrow) SafeSaveStream(path, file);
    if (*stream == nullptr) {
        file->Release();
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

SafeSaveStream::SafeSaveStream(std::wstring path, IStream* file)
    : m_path(std::move(path)), m_temporaryPath(m_path + L".saving"), m_file(file)
{
}

SafeSaveStream::~SafeSaveStream()
{
    DiscardDestination();
    if (m_file != nullptr) {
        m_file->Release();
    }
}

void SafeSaveStream::DiscardDestination()
{
    if (m_destination != nullptr) {
        m_destination->Release();
        m_destination = nullptr;
        DeleteFileW(m_temporaryPath.c_str());
    }
}

STDMETHODIMP SafeSaveStream::QueryInterface(REFIID iid, void** ppv)
{
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISequentialStream) || IsEqualIID(iid, IID_IStream)) {
        *ppv = static_cast<IStream*>(this);
    } else if (IsEqualIID(iid, IID_IDestinationStreamFactory)) {
        *ppv = static_cast<IDestinationStreamFactory*>(this);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) SafeSaveStream::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_refs));
}

STDMETHODIMP_(ULONG) SafeSaveStream::Release()
{
    const LONG count = InterlockedDecrement(&m_refs);
    if (count == 0) {
        delete this;
    }
    return static_cast<ULONG>(count);
}

STDMETHODIMP SafeSaveStream::Read(void* buffer, ULONG count, ULONG* read)
{
    return m_file != nullptr ? m_file->Read(buffer, count, read) : E_UNEXPECTED;
}

STDMETHODIMP SafeSaveStream::Write(const void* buffer, ULONG count, ULONG* written)
{
    return m_file != nullptr ? m_file->Write(buffer, count, written) : E_UNEXPECTED;
}

STDMETHODIMP SafeSaveStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position)
{
    return m_file != nullptr ? m_file->Seek(move, origin, position) : E_UNEXPECTED;
}

STDMETHODIMP SafeSaveStream::SetSize(ULARGE_INTEGER size)
{
    return m_file != nullptr ? m_file->SetSize(size) : E_UNEXPECTED;
}

STDMETHODIMP SafeSaveStream::CopyTo(IStream* to, ULARGE_INTEGER count, ULARGE_INTEGER* read, ULARGE_INTEGER* written)
{
    return m_file != nullptr ? m_file->CopyTo(to, count, read, written) : E_UNEXPECTED;
}

STDMETHODIMP SafeSaveStream::Commit(DWORD flags)
{
    if (m_file == nullptr) {
        return E_UNEXPECTED;
    }
    if (m_destination == nullptr) {
        return m_file->Commit(flags);
    }
    HRESULT hr = m_destination->Commit(flags);
    if (FAILED(hr)) {
        return hr;
    }
    m_destination->Release();
    m_destination = nullptr;
    // The original is closed so that the finished copy can take its place;
    // either way the file is open again afterwards.
    m_file->Release();
    m_file = nullptr;
    if (!MoveFileExW(m_temporaryPath.c_str(), m_path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        hr = HRESULT_FROM_WIN32(GetLastError());
        DeleteFileW(m_temporaryPath.c_str());
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
    return m_file != nullptr ? m_file->LockRegion(offset, count, type) : E_UNEXPECTED;
}

STDMETHODIMP SafeSaveStream::UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type)
{
    return m_file != nullptr ? m_file->UnlockRegion(offset, count, type) : E_UNEXPECTED;
}

STDMETHODIMP SafeSaveStream::Stat(STATSTG* stat, DWORD flags)
{
    return m_file != nullptr ? m_file->Stat(stat, flags) : E_UNEXPECTED;
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
    DiscardDestination();
    const HRESULT hr =
        OpenFileStream(m_temporaryPath, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, TRUE, &m_destination);
    if (FAILED(hr)) {
        return hr;
    }
    m_destination->AddRef();
    *destination = m_destination;
    return S_OK;
}
