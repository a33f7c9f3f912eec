// The properties the handler offers, with the names people use for them: the
// canonical property-system name and a short alias.
#pragma once

#include "platform/platform.h"

#include <span>
#include <string>

enum class ValueKind { Text, TextList, Number, Duration, BitRate, Flag };

struct PropertyName {
    PROPERTYKEY key;
    const wchar_t* canonical;
    const wchar_t* alias;
    ValueKind kind;
};

std::span<const PropertyName> KnownProperties();

// By canonical name or alias, without regard to letter case; null if unknown.
const PropertyName* FindProperty(const std::wstring& name);
const PropertyName* FindProperty(const PROPERTYKEY& key);

// The canonical name: the platform's if it knows the key, else ours, else
// the key in {fmtid} pid form.
std::wstring CanonicalName(const PROPERTYKEY& key);
