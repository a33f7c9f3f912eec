#include "binding/registry_value.h"

#include <cstring>
#include <cwchar>

namespace {

// The 64-bit view, which is the one Explorer reads, unless the 32-bit
// programs' view was asked for.
REGSAM View = KEY_WOW64_64KEY;

const wchar_t* ValueName(const std::wstring& name)
{
    return name.empty() ? nullptr : name.c_str();
}

} // namespace

void UseRegistryView(RegistryView view)
{
    View = view == RegistryView::X86 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
}

RegistryView CurrentRegistryView()
{
    return View == KEY_WOW64_32KEY ? RegistryView::X86 : RegistryView::Native;
}

REGSAM RegistryViewAccess()
{
    return View;
}

HRESULT ReadRegistryValue(HKEY root, const std::wstring& path, const std::wstring& name, RegistryValue* value,
                          RegistryView view)
{
    *value = RegistryValue{};
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(
        root, path.c_str(), 0, KEY_QUERY_VALUE | (view == RegistryView::X86 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY), &key);
    if (status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(status);
    }
    DWORD size = 0;
    do {
        value->data.resize(size);
        status = RegQueryValueExW(key, ValueName(name), nullptr, &value->type,
                                  value->data.empty() ? nullptr : value->data.data(), &size);
    } while (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && size > value->data.size()));
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        *value = RegistryValue{};
        return HRESULT_FROM_WIN32(status);
    }
    value->data.resize(size);
    return S_OK;
}

HRESULT WriteRegistryValue(HKEY root, const std::wstring& path, const std::wstring& name, const RegistryValue& value)
{
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | View, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(status);
    }
    status = RegSetValueExW(key, ValueName(name), 0, value.type, value.data.empty() ? nullptr : value.data.data(),
                            static_cast<DWORD>(value.data.size()));
    RegCloseKey(key);
    return HRESULT_FROM_WIN32(status);
}

HRESULT DeleteRegistryValue(HKEY root, const std::wstring& path, const std::wstring& name)
{
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(root, path.c_str(), 0, KEY_SET_VALUE | View, &key);
    if (status == ERROR_SUCCESS) {
        status = RegDeleteValueW(key, ValueName(name));
        RegCloseKey(key);
    }
    return status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}

RegistryValue StringValue(const std::wstring& text)
{
    RegistryValue value;
    value.type = REG_SZ;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    value.data.assign(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
    return value;
}

std::wstring TextOf(const RegistryValue& value)
{
    if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) {
        return L"";
    }
    std::wstring text(value.data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), value.data.data(), text.size() * sizeof(wchar_t));
    const std::size_t end = text.find(L'\0');
    return end == std::wstring::npos ? text : text.substr(0, end);
}

bool HoldsString(const RegistryValue& value, const std::wstring& text)
{
    return (value.type == REG_SZ || value.type == REG_EXPAND_SZ) && _wcsicmp(TextOf(value).c_str(), text.c_str()) == 0;
}

bool RegistryKeyExists(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | View, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

HRESULT DeleteRegistryTree(HKEY root, const std::wstring& path)
{
    // RegDeleteTreeW takes no view of its own: it empties the key opened in
    // the view, and RegDeleteKeyExW deletes the empty key in the same view.
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(root, path.c_str(), 0,
                                   DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE | View, &key);
    if (status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(status);
    }
    status = RegDeleteTreeW(key, nullptr);
    RegCloseKey(key);
    if (status == ERROR_SUCCESS) {
        status = RegDeleteKeyExW(root, path.c_str(), View, 0);
    }
    return HRESULT_FROM_WIN32(status);
}

bool DeleteRegistryKeyIfEmpty(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | View, &key) != ERROR_SUCCESS) {
        return true;
    }
    DWORD subkeys = 0;
    DWORD values = 0;
    const LSTATUS status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                            nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || subkeys != 0 || values != 0) {
        return false;
    }
    return RegDeleteKeyExW(root, path.c_str(), View, 0) == ERROR_SUCCESS;
}
