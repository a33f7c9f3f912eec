// Reading and clearing registry trees in tests.
#pragma once

#include "platform/platform.h"

#include <set>
#include <string>
#include <tuple>

// One value of a registry tree: key path (relative to the tree's root, ""
// for the root itself), value name ("" for the default value), type, data
// (REG_SZ text, or REG_DWORD in decimal). A key without values appears once
// with an empty name and type REG_NONE.
struct RegistryValue {
    std::wstring key;
    std::wstring name;
    DWORD type = REG_NONE;
    std::wstring data;

    bool operator==(const RegistryValue&) const = default;
    bool operator<(const RegistryValue& other) const
    {
        return std::tie(key, name, type, data) < std::tie(other.key, other.name, other.type, other.data);
    }
};
using RegistryTree = std::set<RegistryValue>;

std::wostream& operator<<(std::wostream& out, const RegistryValue& value);
void PrintTo(const RegistryValue& value, std::ostream* out);

// Every key and value beneath root\path; empty when the key does not exist.
RegistryTree ReadRegistryTree(HKEY root, const std::wstring& path);
bool RegistryKeyExists(HKEY root, const std::wstring& path);
// Deletes root\path with everything beneath it, if it exists.
void DeleteRegistryTree(HKEY root, const std::wstring& path);

// Registry form of a GUID: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::wstring GuidText(REFGUID guid);
