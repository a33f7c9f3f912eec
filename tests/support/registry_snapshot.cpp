#include "tests/support/registry_snapshot.h"

#include "tests/support/test_files.h"

#include <ostream>
#include <vector>

namespace {

void ReadKey(HKEY key, const std::wstring& relativePath, RegistryTree& tree)
{
    bool hasValues = false;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = ARRAYSIZE(name);
        DWORD type = 0;
        BYTE data[2048];
        DWORD dataSize = sizeof(data);
        if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) {
            break;
        }
        hasValues = true;
        RegistryValue value{relativePath, name, type, L""};
        if (type == REG_SZ) {
            value.data.assign(reinterpret_cast<const wchar_t*>(data), dataSize / sizeof(wchar_t));
            while (!value.data.empty() && value.data.back() == L'\0') {
                value.data.pop_back();
            }
        } else if (type == REG_DWORD) {
            value.data = std::to_wstring(*reinterpret_cast<const DWORD*>(data));
        }
        tree.insert(value);
    }
    if (!hasValues) {
        tree.insert({relativePath, L"", REG_NONE, L""});
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = ARRAYSIZE(name);
        if (RegEnumKeyExW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        HKEY child = nullptr;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, &child) == ERROR_SUCCESS) {
            ReadKey(child, relativePath.empty() ? name : relativePath + L"\\" + name, tree);
            RegCloseKey(child);
        }
    }
}

} // namespace

std::wostream& operator<<(std::wostream& out, const RegistryValue& value)
{
    return out << L"[" << value.key << L"] " << (value.name.empty() ? L"@" : value.name) << L" (" << value.type
               << L") = " << value.data;
}

void PrintTo(const RegistryValue& value, std::ostream* out)
{
    *out << "[" << Narrow(value.key) << "] " << (value.name.empty() ? "@" : Narrow(value.name)) << " (" << value.type
         << ") = " << Narrow(value.data);
}

RegistryTree ReadRegistryTree(HKEY root, const std::wstring& path)
{
    RegistryTree tree;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        ReadKey(key, L"", tree);
        RegCloseKey(key);
    }
    return tree;
}

bool RegistryKeyExists(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

void DeleteRegistryTree(HKEY root, const std::wstring& path)
{
    RegDeleteTreeW(root, path.c_str());
    RegDeleteKeyW(root, path.c_str());
}

std::wstring GuidText(REFGUID guid)
{
    wchar_t text[39];
    StringFromGUID2(guid, text, ARRAYSIZE(text));
    return text;
}
