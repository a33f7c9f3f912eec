// The console program's registry layer with one write that fails: the
// value named by the environment variable QUILLBROOK_FAILING_WRITE (say
// "InfoTip") cannot be written in HKLM, as when another program holds the
// key locked down. The lifecycle test runs quillbrook-cli-failing-write,
// built with this in place of binding/registry_value.cpp, to make a bind
// fail part way. Without the variable it is the console program itself.
#define WriteRegistryValue WriteRegistryValueForReal
#include "binding/registry_value.cpp"
#undef WriteRegistryValue

#include <cstdlib>

HRESULT WriteRegistryValue(HKEY root, const std::wstring& path, const std::wstring& name, const RegistryValue& value)
{
    const wchar_t* failing = _wgetenv(L"QUILLBROOK_FAILING_WRITE");
    if (root == HKEY_LOCAL_MACHINE && failing != nullptr && name == failing) {
        return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    }
    return WriteRegistryValueForReal(root, path, name, value);
}
