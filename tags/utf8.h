// Conversion between Vorbis comment text (UTF-8) and the property system's
// UTF-16.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <string>
#include <string_view>

// Converts exactly `count` bytes; NUL bytes are converted like any other
// character. Ill-formed sequences become U+FFFD. Throws CAtlException when the
// system refuses the conversion, which it does for an empty input.
std::wstring Utf8ToWide(const char* bytes, std::size_t count);

// The same conversion into a NUL-terminated string from CoTaskMemAlloc, as a
// PROPVARIANT holds it (a NUL inside the value ends it for the reader); an
// empty input gives an empty string. Fails by E_OUTOFMEMORY, or as Utf8ToWide
// throws; `*text` is null on failure.
HRESULT Utf8ToTaskString(std::string_view bytes, PWSTR* text) noexcept;

// Converts the whole string, NUL characters included, so that a value is
// written back as it was read. Throws CAtlException on a conversion error.
std::string WideToUtf8(std::wstring_view text);
