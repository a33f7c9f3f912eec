// Conversion of Vorbis comment text (UTF-8) into the property system's UTF-16.
#pragma once

#include <cstddef>
#include <string>

// Converts exactly `count` bytes; NUL bytes are converted like any other
// character. Ill-formed sequences become U+FFFD. Throws CAtlException when the
// system refuses the conversion, which it does for an empty input.
std::wstring Utf8ToWide(const char* bytes, std::size_t count);
