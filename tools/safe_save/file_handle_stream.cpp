#include "tools/safe_save/file_handle_stream.h"

#include <cstring>
#include <new>
#include <wrl/client.h>

namespace {

HRESULT LastError()
{
    const DWORD error = GetLastError();
    return HRESULT_FROM_WIN32(error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error);
}

} // namespace

HRESULT FileHandleStream::Create(HANDLE file, FileHandleStream** stream)
{
    if (stream == nullptr) {
        return E_POINTER;
    }
    *stream = nullptr;
    Microsoft::WRL::ComPtr<FileHandleStream> created(new (std::nothrow) FileHandleStream(file));
    if (!created) {
        return E_OUTOFMEMORY;
    }
    *stream = created.Detach();
    return S_OK;
}

FileHandleStream::~FileHandleStream()
{
    CloseHandle(m_file);
}

STDMETHODIMP FileHandleStream::Read(void* buffer, ULONG count, ULONG* read)
{
    DWORD done = 0;
    const BOOL ok = ReadFile(m_file, buffer, count, &done, nullptr);
    if (read != nullptr) {
        *read = done;
    }
    if (!ok) {
        return LastError();
    }
    return done == count ? S_OK : S_FALSE;
}

STDMETHODIMP FileHandleStream::Write(const void* buffer, ULONG count, ULONG* written)
{
    DWORD done = 0;
    const BOOL ok = WriteFile(m_file, buffer, count, &done, nullptr);
    if (written != nullptr) {
        *written = done;
    }
    if (!ok) {
        return LastError();
    }
    return done == count ? S_OK : STG_E_MEDIUMFULL;
}

STDMETHODIMP FileHandleStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position)
{
    // STREAM_SEEK_SET, _CUR and _END are FILE_BEGIN, _CURRENT and _END.
    if (origin > STREAM_SEEK_END) {
        return STG_E_INVALIDFUNCTION;
    }
    LARGE_INTEGER moved{};
    if (!SetFilePointerEx(m_file, move, &moved, origin)) {
        return STG_E_INVALIDFUNCTION;
    }
    if (position != nullptr) {
        position->QuadPart = static_cast<ULONGLONG>(moved.QuadPart);
    }
    return S_OK;
}

STDMETHODIMP FileHandleStream::SetSize(ULARGE_INTEGER size)
{
    LARGE_INTEGER here{};
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size.QuadPart);
    if (!SetFilePointerEx(m_file, LARGE_INTEGER{}, &here, FILE_CURRENT) ||
        !SetFilePointerEx(m_file, end, nullptr, FILE_BEGIN) || !SetEndOfFile(m_file)) {
        return LastError();
    }
    return SetFilePointerEx(m_file, here, nullptr, FILE_BEGIN) ? S_OK : LastError();
}

STDMETHODIMP FileHandleStream::Commit(DWORD)
{
    return FlushFileBuffers(m_file) ? S_OK : LastError();
}

STDMETHODIMP FileHandleStream::Stat(STATSTG* stat, DWORD)
{
    if (stat == nullptr) {
        return STG_E_INVALIDPOINTER;
    }
    std::memset(stat, 0, sizeof(*stat));
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(m_file, &size)) {
        return LastError();
    }
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = static_cast<ULONGLONG>(size.QuadPart);
    stat->grfMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
    return S_OK;
}

STDMETHODIMP FileHandleStream::Clone(IStream** clone)
{
    if (clone != nullptr) {
        *clone = nullptr;
    }
    return E_NOTIMPL;
}
