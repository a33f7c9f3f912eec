// Reading a tag text as an unsigned 32-bit number.
#pragma once

#include "platform/platform.h"

// Accepts ASCII decimal digits with optional white space around them (white
// space alone reads as 0). No sign, no other digits, nothing above 4294967295.
bool ParseUInt32(const wchar_t* text, ULONG& value) noexcept;
