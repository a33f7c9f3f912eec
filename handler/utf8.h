// UTF-16 to UTF-8 for the values written back into Vorbis comments.
#pragma once

#include <string>

// Converts the whole string, NUL characters included; a conversion error
// throws CAtlException with the system's error.
std::string WideToUtf8(const std::wstring& text);
