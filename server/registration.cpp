// Registration of quillbrook.dll: the AppID, the per-user switch of
// DllInstall, and the registry scripts of the object map's classes.
#include "server/module.h"

#include "com/script_replacement.h"

#include <cwchar>

namespace {

// Registry form of a GUID: upper-case hexadecimal in braces.
struct GuidText {
    explicit GuidText(REFGUID guid) noexcept { StringFromGUID2(guid, text, ARRAYSIZE(text)); }
    wchar_t text[39] = {};
};

} // namespace

HRESULT CQuillbrookModule::AddCommonRGSReplacements(IRegistrarBase* registrar) noexcept
{
    const GuidText appId(APPID_Quillbrook);
    return AddScriptReplacement(registrar, L"APPID", appId.text);
}

HRESULT CQuillbrookModule::UpdateRegistryAppId(BOOL doRegister) noexcept
{
    const GuidText appId(APPID_Quillbrook);
    const RegMapEntry replacements[] = {{L"APPID", appId.text}, {nullptr, nullptr}};
    return g_module.UpdateRegistryFromResource(IDR_APPID, doRegister, replacements);
}

HRESULT CQuillbrookModule::DllInstall(BOOL install, LPCWSTR commandLine) noexcept
{
    // Five characters, the terminating null included: "user" exactly.
    if (commandLine != nullptr && _wcsnicmp(commandLine, L"user", 5) == 0) {
        AtlSetPerUserRegistration(true);
    }
    if (!install) {
        return DllUnregisterServer();
    }
    const HRESULT hr = DllRegisterServer();
    if (FAILED(hr)) {
        DllUnregisterServer();
    }
    return hr;
}
