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
// recognised by their name, whatever its case.
//
// The file is known by the name the file system gives its open handle: its
// own case rather than the case typed, its long name rather than a short
// one, the target of a symbolic link rather than the link, in the \\?\ form
// that has no MAX_PATH limit. A rewrite of a file that has other names (hard
// links) is refused, since replacing it would part it from them; an
// encrypted file's copy is made encrypted, or the rewrite refused; the owner
// is carried over where the process may set it. Where the file system cannot
// name the file and the typed name is a link, a rewrite is refused. A named
// stream that cannot be carried over, or a file that another program changed
// once this stream closed it, fails the Commit and leaves the file as it is.
#pragma once

#include "tools/common/unknown_object.h"
#include "tools/safe_save/file_handle_stream.h"

#include <string>
#include <wrl/client.h>

// How the stream asks the name of its open file:
// GetFinalPathNameByHandleW, or a stand-in that fails as some redirectors do.
using PathNameQuery = DWORD(WINAPI*)(HANDLE file, LPWSTR name, DWORD size, DWORD flags);

class SafeSaveStream final : public UnknownObject<IStream, IDestinationStreamFactory> {
public:
    // Opens `path` for reading and writing; the new stream has one reference.
    // A read-only file gives HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED).
    static HRESULT Open(const std::wstring& path, SafeSaveStream** stream,
                        PathNameQuery nameQuery = GetFinalPathNameByHandleW);

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
    // The file's own name, as its open handle gives it.
    const std::wstring& Path() const { return m_path; }
    // Why the last GetDestinationStream refused to make a copy, or the last
    // Commit to put it in place, for the user; empty when neither refused.
    const std::wstring& Refusal() const { return m_refusal; }

private:
    SafeSaveStream(std::wstring path, Microsoft::WRL::ComPtr<FileHandleStream> file);
    ~SafeSaveStream() override;

    void DiscardDestination();
    // The file's stream, opened again if a Commit could not.
    IStream* File();
    // Whether a copy may replace the file (not when it has other names),
    // with Refusal() set when not; and whether the copy must be encrypted.
    HRESULT CheckReplaceable(bool& encrypted);
    // Creates the pending copy under a new name beside the file.
    HRESULT CreateCopy(bool encrypted, HANDLE& copy);

    std::wstring m_path;
    std::wstring m_temporaryPath;
    std::wstring m_refusal;
    // The file system could not name the file, and the typed name is a link:
    // a rewrite would put a file in the link's place.
    bool m_unnamedLink = false;
    Microsoft::WRL::ComPtr<FileHandleStream> m_file;
    Microsoft::WRL::ComPtr<FileHandleStream> m_destination;
};
