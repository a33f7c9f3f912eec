#include "binding/class_registration.h"

#include "binding/registry_value.h"

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

// The module path of `clsid` from `only`, or else from HKCU (when
// `perUser`) or HKLM; false if none of them registers it.
bool ReadServer(const std::wstring& clsid, bool perUser, std::wstring* module, HKEY only = nullptr)
{
    for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        if ((root == HKEY_CURRENT_USER && !perUser && only == nullptr) || (only != nullptr && root != only)) {
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

ClassRegistration FindClassRegistrationIn(REFCLSID clsid, bool perUser, HKEY only);

} // namespace

ClassRegistration FindClassRegistration(REFCLSID clsid, bool perUser)
{
    return FindClassRegistrationIn(clsid, perUser, nullptr);
}

ClassRegistration FindUserClassRegistration(REFCLSID clsid)
{
    return FindClassRegistrationIn(clsid, true, HKEY_CURRENT_USER);
}

namespace {

ClassRegistration FindClassRegistrationIn(REFCLSID clsid, bool perUser, HKEY only)
{
    ClassRegistration registration;
    registration.registered = ReadServer(GuidText(clsid), perUser, &registration.module, only);
    if (registration.registered && !registration.module.empty()) {
        const DWORD attributes = GetFileAttributesW(registration.module.c_str());
        registration.moduleExists =
            attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
        registration.machine = registration.moduleExists ? ReadMachine(registration.module) : 0;
    }
    return registration;
}

} // namespace

WORD NativeMachine()
{
    // Looked up at run time: Windows 10 1511 and later have it. Without it,
    // the machine is the one this program was built for (an x64 program on
    // an ARM64 Windows without it cannot happen: x64 emulation came later).
    using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto isWow64Process2 = kernel == nullptr
                                     ? nullptr
                                     : reinterpret_cast<IsWow64Process2Function>(
                                           reinterpret_cast<void (*)()>(GetProcAddress(kernel, "IsWow64Process2")));
    USHORT process = 0;
    USHORT native = 0;
    if (isWow64Process2 != nullptr && isWow64Process2(GetCurrentProcess(), &process, &native) &&
        native != IMAGE_FILE_MACHINE_UNKNOWN) {
        return native;
    }
#if defined(__aarch64__) || defined(_M_ARM64)
    return IMAGE_FILE_MACHINE_ARM64;
#elif defined(__x86_64__) || defined(_M_X64)
    return IMAGE_FILE_MACHINE_AMD64;
#else
    return IMAGE_FILE_MACHINE_I386;
#endif
}

WORD ExpectedMachine()
{
    if (RegistryViewAccess() == KEY_WOW64_32KEY) {
        return IMAGE_FILE_MACHINE_I386;
    }
    // Explorer is a native program: on Windows on ARM an ARM64 one, which
    // cannot load an x64 module even though x64 programs share its view.
    return NativeMachine();
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
