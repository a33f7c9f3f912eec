// The handler's vocabulary: which keys GetValue answers and through which
// getter, which keys SetValue accepts and through which setter, and which
// Vorbis comment field provides which key. The key tables are sorted in key
// order, the field table by unsigned byte order of the names; all are searched
// by binary search.
#pragma once

#include "handler/key_order.h"

#include <span>
#include <string_view>

class CPropertyHandler;

using PropertyGetter = HRESULT (CPropertyHandler::*)(PROPVARIANT* value) noexcept;
using PropertySetter = HRESULT (CPropertyHandler::*)(const PROPVARIANT& value) noexcept;

template <class Member> struct PropertyBinding {
    PROPERTYKEY key;
    Member member;
};

using GetterBinding = PropertyBinding<PropertyGetter>;
using SetterBinding = PropertyBinding<PropertySetter>;

// A Vorbis comment field name (upper case) and the key it provides.
struct FieldKeyEntry {
    const char* name;
    PROPERTYKEY key;
};

extern const std::span<const GetterBinding> GetterTable;
extern const std::span<const SetterBinding> SetterTable;
extern const std::span<const FieldKeyEntry> FieldKeyTable;

// The row bound to exactly this key, or null.
const GetterBinding* FindGetter(const PROPERTYKEY& key) noexcept;
const SetterBinding* FindSetter(const PROPERTYKEY& key) noexcept;
// The key provided by exactly this upper-case field name, or null.
const PROPERTYKEY* FindFieldKey(std::string_view name) noexcept;
