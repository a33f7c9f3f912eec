// The system test: drives an installed Quillbrook the way Explorer and other
// programs do, through the shell's documented APIs only, on FLAC files it
// makes itself in a folder of its own under %TEMP%.
//
//     system_test [--no-skips] [--module PATH]
//
// One line per check, then "N passed, M failed, K skipped"; the exit code is
// 0 only when no check failed. Where the shell has no property system (Wine),
// every check is skipped; --no-skips (for a Windows machine) counts such a
// check as failed.
#include "tests/system/checks.h"
#include "tests/system/sample_files.h"

#include <cstdio>
#include <string>

namespace {

const char* Architecture()
{
#if defined(__aarch64__)
    return "ARM64";
#elif defined(__x86_64__)
    return "x64";
#else
    return "x86";
#endif
}

void RemoveFolder(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring path = folder + L"\\" + found.cFileName;
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

// Whether the shell has a property system at all: it answers for any file,
// whatever handler serves it, unless it has none (E_NOTIMPL).
bool ShellHasPropertySystem(const std::wstring& folder)
{
    const std::wstring probe = folder + L"\\probe.flac";
    WriteFileBytes(probe, MakeSample());
    IPropertyStore* store = nullptr;
    const HRESULT hr = SHGetPropertyStoreFromParsingName(probe.c_str(), nullptr, GPS_DEFAULT, IID_PPV_ARGS(&store));
    if (store) {
        store->Release();
    }
    DeleteFileW(probe.c_str());
    return hr != E_NOTIMPL;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    bool refuseSkips = false;
    std::wstring installedModule;
    for (int i = 1; i < argc; ++i) {
        if (std::wstring(argv[i]) == L"--no-skips") {
            refuseSkips = true;
        } else if (std::wstring(argv[i]) == L"--module" && i + 1 < argc) {
            installedModule = argv[++i];
        } else {
            std::fprintf(stderr, "usage: system_test [--no-skips] [--module PATH]\n");
            return 2;
        }
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        std::fprintf(stderr, "system_test: CoInitializeEx failed\n");
        return 1;
    }
    wchar_t temp[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    const std::wstring folder =
        std::wstring(temp, length) + L"quillbrook-system-" + std::to_wstring(GetCurrentProcessId());
    RemoveFolder(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    std::printf("system test of the %s build\n", Architecture());

    CheckLog log(refuseSkips);
    try {
        if (!ShellHasPropertySystem(folder)) {
            log.ShellHasNoPropertySystem();
        }
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "system_test: %s\n", failure.what());
        return 1;
    }
    RunPropertyChecks(log, folder, installedModule);
    RunThumbnailChecks(log, folder, installedModule);

    RemoveFolder(folder);
    CoUninitialize();
    return log.Finish();
}
