// Which keys GetValue answers and through which getter, and which keys
// SetValue accepts and through which setter. Both tables are sorted in key
// order and searched by binary search.
#pragma once

#include "propkeys/key_order.h"

#include <span>

class CPropertyHandler;

using PropertyGetter = HRESULT (CPropertyHandler::*)(PROPVARIANT* value) noexcept;
using PropertySetter = HRESULT (CPropertyHandler::*)(const PROPVARIANT& value) noexcept;

template <class Member> struct PropertyBinding {
    PROPERTYKEY key;
    Member member;
};

using GetterBinding = PropertyBinding<PropertyGetter>;
using SetterBinding = PropertyBinding<PropertySetter>;

extern const std::span<const GetterBinding> GetterTable;
extern const std::span<const SetterBinding> SetterTable;

// The row bound to exactly this key, or null.
const GetterBinding* FindGetter(const PROPERTYKEY& key) noexcept;
const SetterBinding* FindSetter(const PROPERTYKEY& key) noexcept;
