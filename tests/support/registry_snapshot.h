// Reading and clearing registry trees in tests.
#pragma once

#include "platform/platform.h"

#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

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

// Registry keys saved byte for byte (every value with its type and data,
// every subkey), to put them back exactly as they were: tests that register
// and unregister leave a machine's own registration as they found it.
class SavedRegistryKeys {
public:
    SavedRegistryKeys(HKEY root, const std::vector<std::wstring>& paths);
    // Deletes each saved key and writes back what it held (nothing where it
    // did not exist).
    void Restore() const;

    struct Value {
        std::wstring name;
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
    };
    struct Key {
        std::wstring name;
        std::vector<Value> values;
        std::vector<Key> subkeys;
    };

private:
    HKEY m_root;
    std::vector<std::pair<std::wstring, std::optional<Key>>> m_keys;
};

// Registry form of a GUID: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::wstring GuidText(REFGUID guid);
