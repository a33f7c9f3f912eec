// A read-write stream over a file that also offers IDestinationStreamFactory,
// as the property system does for handlers that save safely. Each
// GetDestinationStream hands out a pending copy: a new file of a unique name
// beside the original (an earlier pending copy is dropped), marked to be
// deleted when closed, so that a save that fails or is killed leaves nothing
// behind. Commit gives the last pending copy the original's access control
// list, named streams, attributes and creation time, and renames it over the
// original in one step; Revert drops it. Until then the original stays
// untouched, and no existing file other than the original is ever opened or
// replaced. A save killed in the instant between creating its copy and
// marking it leaves the copy; opening the file again removes such copies,
// recognised by their exact name.
#pragma once

#include "tools/common/unknown_object.h"
#include "tools/safe_save/file_handle_stream.h"

#include <string>
#include <wrl/client.h>

class SafeSaveStream final : public UnknownObject<IStream, IDestinationStreamFactory> {
public:
    // Opens `path` for reading and writing; the new stream has one reference.
    // A read-only file gives HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED).
    static HRESULT Open(const std::wstring& path, SafeSaveStream** stream);

    // ISequentialStream and IStream: the original file.
    STDMETHOD(Read)(void* buffer, ULONG count, ULONG* read) override;
    STDMETHOD(Write)(const void* buffer, ULONG count, ULONG* written) override;
    STDMETHOD(Seek)(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override;
    STDMETHOD(SetSize)(ULARGE_INTEGER size) override;
    STDMETHOD(CopyTo)(IStream* to, ULARGE_INTEGER count, ULARGE_INTEGER* read, ULARGE_INTEGER* written) override;
    // Makes the writes durable; if a destination was handed out, it replaces
    // the original file. On failure the pending copy is removed and the
    // original stays as it was.
    STDMETHOD(Commit)(DWORD flags) override;
    STDMETHOD(Revert)() override;
    STDMETHOD(LockRegion)(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) override;
    STDMETHOD(UnlockRegion)(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) override;
    STDMETHOD(Stat)(STATSTG* stat, DWORD flags) override;
    STDMETHOD(Clone)(IStream** clone) override;

    // IDestinationStreamFactory
    STDMETHOD(GetDestinationStream)(IStream** destination) override;

    // The name of the last pending copy (empty before the first).
    const std::wstring& TemporaryPath() const { return m_temporaryPath; }

private:
    SafeSaveStream(std::wstring path, Microsoft::WRL::ComPtr<IStream> file);
    ~SafeSaveStream() override;

    void DiscardDestination();

    std::wstring m_path;
    std::wstring m_temporaryPath;
    Microsoft::WRL::ComPtr<IStream> m_file;
    Microsoft::WRL::ComPtr<FileHandleStream> m_destination;
};
