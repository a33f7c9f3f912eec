// Replaceable parameters of registry scripts. The scripts quote strings with
// single quotes, and the registrar reads two single quotes inside a quoted
// string as one; every value therefore goes in with its single quotes
// doubled, so that a module under C:\Users\O'Brien\ stays one string.
#pragma once

#include "platform/platform.h"

#include <new>
#include <string>
#include <string_view>

// `value` as it must appear between the single quotes of a registry script.
inline std::wstring EscapeScriptReplacement(std::wstring_view value)
{
    std::wstring escaped;
    escaped.reserve(value.size() + 2);
    for (const wchar_t c : value) {
        escaped += c;
        if (c == L'\'') {
            escaped += L'\'';
        }
    }
    return escaped;
}

// Adds the replacement %key% to `registrar`, standing for `value`.
inline HRESULT AddScriptReplacement(IRegistrarBase* registrar, const wchar_t* key, const wchar_t* value) noexcept
{
    if (registrar == nullptr || key == nullptr || value == nullptr) {
        return E_POINTER;
    }
    try {
        const std::wstring escaped = EscapeScriptReplacement(value);
        return registrar->AddReplacement(key, escaped.c_str());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
