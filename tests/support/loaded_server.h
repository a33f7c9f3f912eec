// The built quillbrook.dll loaded into the test process, with its exports.
// Unloading it (destruction) resets everything the module keeps per process.
#pragma once

#include "tests/support/module_exports.h"
#include "tests/support/test_files.h"

#include <stdexcept>

struct LoadedServer {
    explicit LoadedServer(const std::wstring& path = BuiltModulePath()) : module(LoadLibraryW(path.c_str()))
    {
        if (module == nullptr) {
            throw std::runtime_error("cannot load " + Narrow(path));
        }
        getClassObject = GetExport<decltype(getClassObject)>(module, "DllGetClassObject");
        canUnloadNow = GetExport<decltype(canUnloadNow)>(module, "DllCanUnloadNow");
        registerServer = GetExport<decltype(registerServer)>(module, "DllRegisterServer");
        unregisterServer = GetExport<decltype(unregisterServer)>(module, "DllUnregisterServer");
        install = GetExport<decltype(install)>(module, "DllInstall");
    }
    ~LoadedServer() { FreeLibrary(module); }
    LoadedServer(const LoadedServer&) = delete;
    LoadedServer& operator=(const LoadedServer&) = delete;

    HMODULE module;
    HRESULT(WINAPI* getClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(WINAPI* canUnloadNow)() = nullptr;
    HRESULT(WINAPI* registerServer)() = nullptr;
    HRESULT(WINAPI* unregisterServer)() = nullptr;
    HRESULT(WINAPI* install)(BOOL, LPCWSTR) = nullptr;
};
