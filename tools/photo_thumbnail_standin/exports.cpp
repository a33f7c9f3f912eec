// Entry points of the stand-in photo thumbnail provider: one class object,
// and registration under the system provider's CLSID for the whole machine
// (Wine's COM activation reads no per-user classes).
#include "thumbnail/photo_thumbnail_clsid.h"
#include "tools/photo_thumbnail_standin/wic_thumbnail_provider.h"

#include <string>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

class StandinClassFactory final : public IClassFactory {
public:
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (iid != IID_IUnknown && iid != IID_IClassFactory) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    // The class object is static: its references only lock the server.
    STDMETHOD_(ULONG, AddRef)() override
    {
        InterlockedIncrement(&g_standinLocks);
        return 2;
    }
    STDMETHOD_(ULONG, Release)() override
    {
        InterlockedDecrement(&g_standinLocks);
        return 1;
    }

    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID iid, void** ppv) override
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        const Microsoft::WRL::ComPtr<WicThumbnailProvider> provider(new (std::nothrow) WicThumbnailProvider());
        if (!provider) {
            return E_OUTOFMEMORY;
        }
        return provider->QueryInterface(iid, ppv);
    }
    STDMETHOD(LockServer)(BOOL lock) override
    {
        if (lock) {
            InterlockedIncrement(&g_standinLocks);
        } else {
            InterlockedDecrement(&g_standinLocks);
        }
        return S_OK;
    }
};

StandinClassFactory g_classFactory;

std::wstring ClassKeyPath()
{
    wchar_t clsid[40] = {};
    StringFromGUID2(CLSID_PhotoThumbnailProvider, clsid, 40);
    return std::wstring(L"Software\\Classes\\CLSID\\") + clsid;
}

HRESULT SetString(HKEY key, const wchar_t* name, const std::wstring& value)
{
    const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    const LSTATUS status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes);
    return HRESULT_FROM_WIN32(status);
}

} // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* ppv)
{
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (clsid != CLSID_PhotoThumbnailProvider) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return g_classFactory.QueryInterface(iid, ppv);
}

STDAPI DllCanUnloadNow()
{
    return g_standinLocks == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), path, MAX_PATH);
    if (length == 0 || length == MAX_PATH) {
        return E_FAIL;
    }
    HKEY server = nullptr;
    const std::wstring serverPath = ClassKeyPath() + L"\\InprocServer32";
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, serverPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                     &server, nullptr);
    if (status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(status);
    }
    HRESULT hr = SetString(server, nullptr, path);
    if (SUCCEEDED(hr)) {
        hr = SetString(server, L"ThreadingModel", L"Both");
    }
    RegCloseKey(server);
    return hr;
}

STDAPI DllUnregisterServer()
{
    const LSTATUS status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, ClassKeyPath().c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}
