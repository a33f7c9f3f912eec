#include "tools/cli/class_registration.h"

#include "tools/cli/registry_value.h"

#include <cwctype>

namespace {

std::wstring ClassKey(const std::wstring& clsid)
{
    return L"Software\\Classes\\CLSID\\" + clsid;
}

std::wstring GuidText(REFCLSID clsid)
{
    wchar_t text[40] = {};
    StringFromGUID2(clsid, text, 40);
    return text;
}

std::wstring Expanded(const RegistryValue& value)
{
    const std::wstring text = TextOf(value);
    if (value.type != REG_EXPAND_SZ) {
        return text;
    }
    const DWORD length = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    std::wstring expanded(length, L'\0');
    if (length == 0 || ExpandEnvironmentStringsW(text.c_str(), expanded.data(), length) != length) {
        return text;
    }
    expanded.resize(length - 1);
    return expanded;
}

// The module path of `clsid` from HKCU (when `perUser`) or HKLM; empty if
// neither registers it.
bool ReadServer(const std::wstring& clsid, bool perUser, std::wstring* module)
{
    for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        if (root == HKEY_CURRENT_USER && !perUser) {
            continue;
        }
        RegistryValue server;
        if (SUCCEEDED(ReadRegistryValue(root, ClassKey(clsid) + L"\\InprocServer32", L"", &server))) {
            *module = Expanded(server);
            // A path in quotes (as some installers write it) names the same file.
            if (module->size() >= 2 && module->front() == L'"' && module->back() == L'"') {
                *module = module->substr(1, module->size() - 2);
            }
            return true;
        }
    }
    return false;
}

WORD ReadMachine(const std::wstring& path)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    WORD machine = 0;
    IMAGE_DOS_HEADER dos{};
    DWORD read = 0;
    DWORD signature = 0;
    IMAGE_FILE_HEADER header{};
    if (ReadFile(file, &dos, sizeof dos, &read, nullptr) && read == sizeof dos && dos.e_magic == IMAGE_DOS_SIGNATURE &&
        SetFilePointer(file, dos.e_lfanew, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
        ReadFile(file, &signature, sizeof signature, &read, nullptr) && read == sizeof signature &&
        signature == IMAGE_NT_SIGNATURE && ReadFile(file, &header, sizeof header, &read, nullptr) &&
        read == sizeof header) {
        machine = header.Machine;
    }
    CloseHandle(file);
    return machine;
}

} // namespace

ClassRegistration FindClassRegistration(REFCLSID clsid, bool perUser)
{
    ClassRegistration registration;
    registration.registered = ReadServer(GuidText(clsid), perUser, &registration.module);
    if (registration.registered && !registration.module.empty()) {
        const DWORD attributes = GetFileAttributesW(registration.module.c_str());
        registration.moduleExists =
            attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
        registration.machine = registration.moduleExists ? ReadMachine(registration.module) : 0;
    }
    return registration;
}

WORD ExpectedMachine()
{
    if (RegistryViewAccess() == KEY_WOW64_32KEY) {
        return IMAGE_FILE_MACHINE_I386;
    }
#if defined(__aarch64__) || defined(_M_ARM64)
    return IMAGE_FILE_MACHINE_ARM64;
#elif defined(__x86_64__) || defined(_M_X64)
    return IMAGE_FILE_MACHINE_AMD64;
#else
    return IMAGE_FILE_MACHINE_I386;
#endif
}

std::wstring MachineName(WORD machine)
{
    switch (machine) {
    case IMAGE_FILE_MACHINE_AMD64:
        return L"x64";
    case IMAGE_FILE_MACHINE_I386:
        return L"x86";
    case IMAGE_FILE_MACHINE_ARM64:
        return L"ARM64";
    default:
        return L"machine " + std::to_wstring(machine);
    }
}

std::wstring ClassName(const std::wstring& clsid, bool perUser)
{
    for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        RegistryValue name;
        if ((root != HKEY_CURRENT_USER || perUser) && SUCCEEDED(ReadRegistryValue(root, ClassKey(clsid), L"", &name))) {
            return TextOf(name);
        }
    }
    return L"";
}

bool IsWindowsClass(const std::wstring& clsid, bool perUser)
{
    std::wstring module;
    if (!ReadServer(clsid, perUser, &module)) {
        return false;
    }
    wchar_t windows[MAX_PATH] = {};
    const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return false;
    }
    std::wstring folder(windows, length);
    if (folder.back() != L'\\') {
        folder += L'\\';
    }
    // A bare file name is found in the system folder.
    return module.find(L'\\') == std::wstring::npos ||
           (module.size() > folder.size() && _wcsnicmp(module.c_str(), folder.c_str(), folder.size()) == 0);
}
