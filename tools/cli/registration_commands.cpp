#include "tools/cli/registration_commands.h"

#include "tools/cli/class_source.h"
#include "tools/cli/cli_output.h"
#include "tools/cli/value_text.h"

int RegisterModule(const std::wstring& dllPath, bool doRegister, bool perUser)
{
    const std::wstring path = dllPath.empty() ? DefaultModulePath() : dllPath;
    HMODULE module = LoadModuleFile(path);
    if (module == nullptr) {
        const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        Fail(path, "cannot load the module", hr);
        return 1;
    }
    HRESULT hr;
    if (perUser) {
        auto install = reinterpret_cast<HRESULT(WINAPI*)(BOOL, PCWSTR)>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, "DllInstall")));
        hr = install != nullptr ? install(doRegister, L"user") : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    } else {
        auto entry = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void (*)()>(
            GetProcAddress(module, doRegister ? "DllRegisterServer" : "DllUnregisterServer")));
        hr = entry != nullptr ? entry() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    }
    FreeLibrary(module);
    if (FAILED(hr)) {
        Fail(path, doRegister ? "registration failed" : "unregistration failed", hr);
        return 1;
    }
    Out(Utf8(path) + (doRegister ? ": registered" : ": unregistered") + (perUser ? " for the current user\n" : "\n"));
    return 0;
}
