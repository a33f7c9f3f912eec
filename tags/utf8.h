// Conversion between Vorbis comment text (UTF-8) and the property system's
// UTF-16.
#pragma once

#include <cstddef>
#include <string>

// Converts exactly `count` bytes; NUL bytes are converted like any other
// character. Ill-formed sequences become U+FFFD. Throws CAtlException when the
// system refuses the conversion, which it does for an empty input.
std::wstring Utf8ToWide(const char* bytes, std::size_t count);

// Converts the whole string, NUL characters included, so that a value is
// written back as it was read. Throws CAtlException on a conversion error.
std::string WideToUtf8(const std::wstring& text);
