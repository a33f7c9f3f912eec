#include "com/type_library.h"

#include "com/registration.h"

#include <wrl/client.h>

namespace {

// A BSTR released when it leaves scope.
class ScopedBstr {
public:
    ScopedBstr() = default;
    ~ScopedBstr() { SysFreeString(m_text); }
    ScopedBstr(const ScopedBstr&) = delete;
    ScopedBstr& operator=(const ScopedBstr&) = delete;

    BSTR* operator&() noexcept { return &m_text; }
    BSTR Get() const noexcept { return m_text; }

private:
    BSTR m_text = nullptr;
};

// The per-user variant of an OLE Automation function when the per-user switch
// is on and the loaded oleaut32 has it; otherwise null.
template <class Function> HRESULT FindPerUserFunction(const char* name, Function* function) noexcept
{
    *function = nullptr;
    bool perUser = false;
    const HRESULT hr = AtlGetPerUserRegistration(&perUser);
    if (FAILED(hr)) {
        return hr;
    }
    if (perUser) {
        if (const HMODULE oleaut = GetModuleHandleW(L"OLEAUT32.DLL")) {
            *function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(oleaut, name)));
        }
    }
    return S_OK;
}

using RegisterTypeLibFunction = HRESULT(WINAPI*)(ITypeLib*, LPOLESTR, LPOLESTR);
using UnRegisterTypeLibFunction = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

} // namespace

HRESULT AtlLoadTypeLib(HINSTANCE module, BSTR* path, ITypeLib** typeLib) noexcept
{
    *path = nullptr;
    *typeLib = nullptr;
    wchar_t fileName[MAX_PATH];
    HRESULT hr = AtlGetModulePath(module, fileName);
    if (FAILED(hr)) {
        return hr;
    }
    hr = LoadTypeLib(fileName, typeLib);
    if (FAILED(hr)) {
        return hr;
    }
    *path = SysAllocString(fileName);
    if (*path == nullptr) {
        (*typeLib)->Release();
        *typeLib = nullptr;
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT AtlRegisterTypeLib(HINSTANCE module) noexcept
{
    ScopedBstr path;
    Microsoft::WRL::ComPtr<ITypeLib> typeLib;
    HRESULT hr = AtlLoadTypeLib(module, &path, &typeLib);
    if (FAILED(hr)) {
        return hr;
    }

    // The help directory is the directory of the library's help file, if
    // it names one that fits a path buffer.
    wchar_t helpDir[MAX_PATH] = {};
    bool hasHelpDir = false;
    ScopedBstr helpFile;
    if (SUCCEEDED(typeLib->GetDocumentation(-1, nullptr, nullptr, nullptr, &helpFile)) && helpFile.Get() != nullptr) {
        const UINT length = SysStringLen(helpFile.Get());
        if (length > 0 && length < MAX_PATH) {
            wcsncpy(helpDir, helpFile.Get(), length);
            wchar_t* afterSeparator = helpDir;
            for (wchar_t* p = helpDir; *p != L'\0'; p = CharNextW(p)) {
                if (*p == L'\\' || *p == L'/' || *p == L':') {
                    afterSeparator = p + 1;
                }
            }
            *afterSeparator = L'\0';
            hasHelpDir = true;
        }
    }

    RegisterTypeLibFunction registerFunction = nullptr;
    hr = FindPerUserFunction("RegisterTypeLibForUser", &registerFunction);
    if (FAILED(hr)) {
        return hr;
    }
    if (registerFunction == nullptr) {
        registerFunction = RegisterTypeLib;
    }
    return registerFunction(typeLib.Get(), path.Get(), hasHelpDir ? helpDir : nullptr);
}

HRESULT AtlUnRegisterTypeLib(HINSTANCE module) noexcept
{
    ScopedBstr path;
    Microsoft::WRL::ComPtr<ITypeLib> typeLib;
    HRESULT hr = AtlLoadTypeLib(module, &path, &typeLib);
    if (FAILED(hr)) {
        return hr;
    }
    TLIBATTR* attributes = nullptr;
    hr = typeLib->GetLibAttr(&attributes);
    if (FAILED(hr)) {
        return hr;
    }
    UnRegisterTypeLibFunction unregisterFunction = nullptr;
    hr = FindPerUserFunction("UnRegisterTypeLibForUser", &unregisterFunction);
    if (SUCCEEDED(hr)) {
        if (unregisterFunction == nullptr) {
            unregisterFunction = UnRegisterTypeLib;
        }
        hr = unregisterFunction(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                                attributes->syskind);
    }
    typeLib->ReleaseTLibAttr(attributes);
    return hr;
}
