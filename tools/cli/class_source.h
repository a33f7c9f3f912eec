// Where the console program gets quillbrook's objects from: the registered
// classes (CoCreateInstance by CLSID, as Explorer does), or a DLL loaded
// straight from a path through its DllGetClassObject.
#pragma once

#include "platform/platform.h"

#include <string>

class ClassSource {
public:
    ClassSource() = default;
    ~ClassSource();
    ClassSource(const ClassSource&) = delete;
    ClassSource& operator=(const ClassSource&) = delete;

    // An empty path means the registered classes.
    HRESULT Load(const std::wstring& dllPath);
    HRESULT Create(REFCLSID clsid, REFIID iid, void** object) const;

    // The loaded DLL (for registration); null when using registered classes.
    HMODULE Module() const { return m_module; }

private:
    HMODULE m_module = nullptr;
    HRESULT(WINAPI* m_getClassObject)(REFCLSID, REFIID, void**) = nullptr;
};

// The quillbrook.dll beside this program.
std::wstring DefaultModulePath();

// Loads the module file at `path` (made absolute), with the DLLs it imports
// from the system folder only, not from the module's folder.
HMODULE LoadModuleFile(const std::wstring& path);
