#include "com/registration.h"

#include "com/module_base.h"
#include "com/script_replacement.h"

#include <wrl/client.h>

#include <cstddef>
#include <cwchar>

namespace {

bool g_perUserRegistration = false;

// Points HKEY_CLASSES_ROOT at HKEY_CURRENT_USER\Software\Classes for this
// process while it lives, when the per-user switch is on.
class UserClassesOverride {
public:
    UserClassesOverride() noexcept
    {
        if (!g_perUserRegistration) {
            return;
        }
        LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS,
                                         nullptr, &m_userClasses, nullptr);
        if (status == ERROR_SUCCESS) {
            status = RegOverridePredefKey(HKEY_CLASSES_ROOT, m_userClasses);
        }
        m_result = HRESULT_FROM_WIN32(status);
    }
    ~UserClassesOverride()
    {
        if (m_userClasses != nullptr) {
            RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
            RegCloseKey(m_userClasses);
        }
    }
    UserClassesOverride(const UserClassesOverride&) = delete;
    UserClassesOverride& operator=(const UserClassesOverride&) = delete;

    HRESULT Result() const noexcept { return m_result; }

private:
    HKEY m_userClasses = nullptr;
    HRESULT m_result = S_OK;
};

// The classes the registry scripts write to: HKEY_CLASSES_ROOT, or the
// current user's classes while the per-user switch is on.
HKEY ScriptClassesRoot() noexcept
{
    return g_perUserRegistration ? HKEY_CURRENT_USER : HKEY_CLASSES_ROOT;
}

// Appends `text` to the null-terminated `key`; false, with `key` unchanged,
// when the result would not fit.
template <std::size_t N> bool AppendText(wchar_t (&key)[N], const wchar_t* text) noexcept
{
    const std::size_t used = wcslen(key);
    const std::size_t length = wcslen(text);
    if (used + length >= N) {
        return false;
    }
    wmemcpy(key + used, text, length + 1);
    return true;
}

// The key of class `clsid` under ScriptClassesRoot(), followed by `below`.
bool FormatClassKey(REFCLSID clsid, const wchar_t* below, wchar_t (&key)[96]) noexcept
{
    wchar_t clsidText[39];
    if (StringFromGUID2(clsid, clsidText, ARRAYSIZE(clsidText)) == 0) {
        return false;
    }
    key[0] = L'\0';
    return AppendText(key, g_perUserRegistration ? L"Software\\Classes\\CLSID\\" : L"CLSID\\") &&
           AppendText(key, clsidText) && AppendText(key, below);
}

} // namespace

RegistrationScope::RegistrationScope() noexcept : m_locale(GetThreadLocale())
{
    SetThreadLocale(LOCALE_SYSTEM_DEFAULT);
}

RegistrationScope::~RegistrationScope()
{
    SetThreadLocale(m_locale);
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

HRESULT AtlGetPerUserRegistration(bool* perUser) noexcept
{
    if (perUser == nullptr) {
        return E_POINTER;
    }
    *perUser = g_perUserRegistration;
    return S_OK;
}

HRESULT AtlSetPerUserRegistration(bool perUser) noexcept
{
    g_perUserRegistration = perUser;
    return S_OK;
}

HRESULT AtlGetModulePath(HINSTANCE module, wchar_t (&path)[MAX_PATH]) noexcept
{
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    if (length == MAX_PATH) {
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    return S_OK;
}

HRESULT AtlCreateRegistrar(IRegistrar** registrar) noexcept
{
    return CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IRegistrar),
                            reinterpret_cast<void**>(registrar));
}

HRESULT AtlUpdateRegistryFromResource(HINSTANCE module, UINT resourceId, BOOL doRegister,
                                      IRegistrar* registrar) noexcept
{
    wchar_t path[MAX_PATH];
    HRESULT hr = AtlGetModulePath(module, path);
    if (FAILED(hr)) {
        return hr;
    }
    hr = AddScriptReplacement(registrar, L"MODULE", path);
    if (FAILED(hr)) {
        return hr;
    }
    UserClassesOverride userClasses;
    if (FAILED(userClasses.Result())) {
        return userClasses.Result();
    }
    return doRegister ? registrar->ResourceRegister(path, resourceId, L"REGISTRY")
                      : registrar->ResourceUnregister(path, resourceId, L"REGISTRY");
}

HRESULT AtlCheckInprocServerPath(REFCLSID clsid, HINSTANCE module) noexcept
{
    wchar_t path[MAX_PATH];
    HRESULT hr = AtlGetModulePath(module, path);
    if (FAILED(hr)) {
        return hr;
    }
    wchar_t key[96];
    if (!FormatClassKey(clsid, L"\\InprocServer32", key)) {
        return E_UNEXPECTED;
    }
    // One character more than any module path: a longer value cannot match.
    wchar_t written[MAX_PATH + 1];
    DWORD size = sizeof(written);
    if (RegGetValueW(ScriptClassesRoot(), key, nullptr, RRF_RT_REG_SZ, nullptr, written, &size) != ERROR_SUCCESS) {
        return SELFREG_E_CLASS;
    }
    return CompareStringOrdinal(written, -1, path, -1, TRUE) == CSTR_EQUAL ? S_OK : SELFREG_E_CLASS;
}

HRESULT AtlRemoveClassKey(REFCLSID clsid) noexcept
{
    wchar_t key[96];
    if (!FormatClassKey(clsid, L"", key)) {
        return E_UNEXPECTED;
    }
    const LSTATUS status = RegDeleteTreeW(ScriptClassesRoot(), key);
    return status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}

HRESULT AtlRegisterClassCategoriesHelper(REFCLSID clsid, const CategoryMapEntry* categories, BOOL doRegister) noexcept
{
    if (categories == nullptr) {
        return S_OK;
    }
    Microsoft::WRL::ComPtr<ICatRegister> catRegister;
    HRESULT hr =
        CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&catRegister));
    for (const auto* entry = categories; SUCCEEDED(hr) && entry->type != CategoryMapEntry::End; ++entry) {
        CATID catid = *entry->catid;
        const bool implemented = entry->type == CategoryMapEntry::Implemented;
        if (doRegister) {
            hr = implemented ? catRegister->RegisterClassImplCategories(clsid, 1, &catid)
                             : catRegister->RegisterClassReqCategories(clsid, 1, &catid);
        } else {
            hr = implemented ? catRegister->UnRegisterClassImplCategories(clsid, 1, &catid)
                             : catRegister->UnRegisterClassReqCategories(clsid, 1, &catid);
        }
    }
    return hr;
}
