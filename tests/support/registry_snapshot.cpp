#include "tests/support/registry_snapshot.h"

#include "tests/support/test_files.h"

#include <ostream>
#include <stdexcept>
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

SavedRegistryKeys::Key SaveKey(HKEY key, const std::wstring& name)
{
    SavedRegistryKeys::Key saved{name, {}, {}};
    DWORD longestName = 0;
    DWORD longestData = 0;
    DWORD longestSubkey = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, &longestSubkey, nullptr, nullptr, &longestName,
                     &longestData, nullptr, nullptr);
    for (DWORD index = 0;; ++index) {
        std::wstring valueName(longestName + 1, L'\0');
        DWORD nameLength = longestName + 1;
        SavedRegistryKeys::Value value;
        value.data.resize(longestData);
        DWORD dataSize = longestData;
        if (RegEnumValueW(key, index, valueName.data(), &nameLength, nullptr, &value.type, value.data.data(),
                          &dataSize) != ERROR_SUCCESS) {
            break;
        }
        value.name = valueName.substr(0, nameLength);
        value.data.resize(dataSize);
        saved.values.push_back(std::move(value));
    }
    for (DWORD index = 0;; ++index) {
        std::wstring subkey(longestSubkey + 1, L'\0');
        DWORD subkeyLength = longestSubkey + 1;
        if (RegEnumKeyExW(key, index, subkey.data(), &subkeyLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        subkey.resize(subkeyLength);
        HKEY child = nullptr;
        if (RegOpenKeyExW(key, subkey.c_str(), 0, KEY_READ, &child) == ERROR_SUCCESS) {
            saved.subkeys.push_back(SaveKey(child, subkey));
            RegCloseKey(child);
        }
    }
    return saved;
}

void RestoreKey(HKEY parent, const SavedRegistryKeys::Key& saved)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(parent, saved.name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        throw std::runtime_error("cannot restore the registry key " + Narrow(saved.name));
    }
    for (const auto& value : saved.values) {
        RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(),
                       static_cast<DWORD>(value.data.size()));
    }
    for (const auto& subkey : saved.subkeys) {
        RestoreKey(key, subkey);
    }
    RegCloseKey(key);
}

} // namespace

SavedRegistryKeys::SavedRegistryKeys(HKEY root, const std::vector<std::wstring>& paths) : m_root(root)
{
    for (const auto& path : paths) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
            m_keys.emplace_back(path, SaveKey(key, path));
            RegCloseKey(key);
        } else {
            m_keys.emplace_back(path, std::nullopt);
        }
    }
}

void SavedRegistryKeys::Restore() const
{
    for (const auto& [path, saved] : m_keys) {
        DeleteRegistryTree(m_root, path);
        if (saved) {
            RestoreKey(m_root, *saved);
        }
    }
}

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
