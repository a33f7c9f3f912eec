// Property values as people read and type them.
#pragma once

#include "binding/utf8_text.h"
#include "propkeys/property_names.h"

#include <string>
#include <vector>

// As Explorer shows it: durations as h:mm:ss, bit rates in kbps, lists joined
// with "; ". Empty for VT_EMPTY.
std::wstring DisplayText(const PROPVARIANT& value, ValueKind kind);

// The value as JSON (string, number, boolean, array or null).
std::string JsonValue(const PROPVARIANT& value);
std::string JsonString(const std::wstring& text);

// Builds the value to store from what was typed: lists split at ";", numbers
// must be plain decimal digits. False when the text does not fit the kind.
bool ParseTypedValue(const std::wstring& text, ValueKind kind, PROPVARIANT* value);
