// Property values written out as short texts, so that tests compare whole
// answers at once: "empty", "u:7" (VT_UI4), "u8:7" (VT_UI8), "b:true",
// "s:text" (VT_LPWSTR), "v:a|b" (VT_VECTOR | VT_LPWSTR), "vt:N" otherwise.
#pragma once

#include "tests/support/com_helpers.h"

#include <string>

std::wstring DescribeValue(const PROPVARIANT& value);

// What GetValue answers for `key`; a failed call reads "failed:0x...".
std::wstring ValueOf(IPropertyStore* store, const PROPERTYKEY& key);
