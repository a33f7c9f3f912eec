// An IStream over a file handle that it owns: 64-bit positions, and Commit
// makes the writes durable. The safe-save stream hands one out as the
// destination, and keeps the handle to rename the finished copy and to set
// whether it is deleted when closed.
#pragma once

#include "tools/common/unknown_object.h"

class FileHandleStream final : public UnknownObject<IStream> {
public:
    // Takes `file` (opened for reading and writing); the new stream has one
    // reference, and closes the handle when the last one goes.
    static HRESULT Create(HANDLE file, FileHandleStream** stream);

    HANDLE Handle() const { return m_file; }

    // ISequentialStream
    STDMETHOD(Read)(void* buffer, ULONG count, ULONG* read) override;
    STDMETHOD(Write)(const void* buffer, ULONG count, ULONG* written) override;

    // IStream
    STDMETHOD(Seek)(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override;
    STDMETHOD(SetSize)(ULARGE_INTEGER size) override;
    STDMETHOD(CopyTo)(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHOD(Commit)(DWORD flags) override;
    STDMETHOD(Revert)() override { return S_OK; }
    STDMETHOD(LockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    STDMETHOD(UnlockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    STDMETHOD(Stat)(STATSTG* stat, DWORD flags) override;
    STDMETHOD(Clone)(IStream** clone) override;

private:
    explicit FileHandleStream(HANDLE file) : m_file(file) {}
    ~FileHandleStream() override;

    HANDLE m_file;
};
