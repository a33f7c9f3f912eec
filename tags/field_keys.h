// Which Vorbis comment field provides which property key. The table is sorted
// by unsigned byte order of the names and searched by binary search.
#pragma once

#include "propkeys/key_order.h"

#include <span>
#include <string_view>

// A Vorbis comment field name (upper case) and the key it provides.
struct FieldKeyEntry {
    const char* name;
    PROPERTYKEY key;
};

extern const std::span<const FieldKeyEntry> FieldKeyTable;

// The key provided by exactly this upper-case field name, or null.
const PROPERTYKEY* FindFieldKey(std::string_view name) noexcept;
