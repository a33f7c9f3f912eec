#include "tools/cli/class_source.h"

#include <wrl/client.h>

ClassSource::~ClassSource()
{
    if (m_module != nullptr) {
        FreeLibrary(m_module);
    }
}

HRESULT ClassSource::Load(const std::wstring& dllPath)
{
    if (dllPath.empty()) {
        return S_OK;
    }
    m_module = LoadModuleFile(dllPath);
    if (m_module == nullptr) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    m_getClassObject = reinterpret_cast<decltype(m_getClassObject)>(
        reinterpret_cast<void (*)()>(GetProcAddress(m_module, "DllGetClassObject")));
    return m_getClassObject != nullptr ? S_OK : HRESULT_FROM_WIN32(GetLastError());
}

HRESULT ClassSource::Create(REFCLSID clsid, REFIID iid, void** object) const
{
    *object = nullptr;
    if (m_getClassObject == nullptr) {
        return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object);
    }
    Microsoft::WRL::ComPtr<IClassFactory> factory;
    HRESULT hr = m_getClassObject(clsid, IID_PPV_ARGS(&factory));
    if (SUCCEEDED(hr)) {
        hr = factory->CreateInstance(nullptr, iid, object);
    }
    return hr;
}

std::wstring DefaultModulePath()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring result(path, length);
    const std::size_t slash = result.find_last_of(L"\\/");
    return result.substr(0, slash == std::wstring::npos ? 0 : slash + 1) + L"quillbrook.dll";
}

HMODULE LoadModuleFile(const std::wstring& path)
{
    const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(length, L'\0');
    if (length == 0 || GetFullPathNameW(path.c_str(), length, full.data(), nullptr) != length - 1) {
        return nullptr;
    }
    full.resize(length - 1);
    return LoadLibraryExW(full.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}
