// A registry value as it is stored: its type and its bytes, so that a value
// read once can be written back exactly.
#pragma once

#include "platform/platform.h"

#include <string>
#include <vector>

// Which registry view every function here works in: the native one (x64,
// which Explorer reads), or the one 32-bit programs read (WOW6432Node).
enum class RegistryView { Native, X86 };
void UseRegistryView(RegistryView view);
RegistryView CurrentRegistryView();
// KEY_WOW64_64KEY or KEY_WOW64_32KEY, for calls made elsewhere.
REGSAM RegistryViewAccess();

struct RegistryValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// Reads `name` (empty: the default value) of `root\path`. A missing key or
// value gives HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND).
// `view`: where a key that Windows shares between the views is read.
HRESULT ReadRegistryValue(HKEY root, const std::wstring& path, const std::wstring& name, RegistryValue* value,
                          RegistryView view = CurrentRegistryView());
// Writes `name` of `root\path`, creating the key (and its parents) if needed.
HRESULT WriteRegistryValue(HKEY root, const std::wstring& path, const std::wstring& name, const RegistryValue& value);
HRESULT DeleteRegistryValue(HKEY root, const std::wstring& path, const std::wstring& name);

RegistryValue StringValue(const std::wstring& text);
// The text of a string value (up to its first null); empty for other types.
std::wstring TextOf(const RegistryValue& value);
// Whether `value` is a string equal to `text`, letter case aside.
bool HoldsString(const RegistryValue& value, const std::wstring& text);

bool RegistryKeyExists(HKEY root, const std::wstring& path);
// Deletes `path` with its values and all its subkeys. A missing key gives
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND).
HRESULT DeleteRegistryTree(HKEY root, const std::wstring& path);
// Deletes `path` if it has neither values nor subkeys; true if it is gone.
bool DeleteRegistryKeyIfEmpty(HKEY root, const std::wstring& path);
