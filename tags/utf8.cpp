#include "tags/utf8.h"

#include "com/atl_exception.h"

#include <climits>

namespace {

// Decodes well-formed UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF) into `wide`, which has room for `count` units; the number of
// units, or -1 at the first ill-formed sequence. Well-formed text has one
// UTF-16 form, so this gives what the system gives, without a call per value.
int DecodeWellFormed(const unsigned char* bytes, std::size_t count, wchar_t* wide) noexcept
{
    std::size_t i = 0;
    int units = 0;
    while (i < count) {
        const unsigned c = bytes[i];
        if (c < 0x80) {
            wide[units++] = static_cast<wchar_t>(c);
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned code = 0;
        unsigned lowest = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            code = c & 0x1F;
            lowest = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            code = c & 0x0F;
            lowest = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            code = c & 0x07;
            lowest = 0x10000;
        } else {
            return -1;
        }
        if (count - i < length) {
            return -1;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned next = bytes[i + k];
            if ((next & 0xC0) != 0x80) {
                return -1;
            }
            code = (code << 6) | (next & 0x3F);
        }
        if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return -1;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            wide[units++] = static_cast<wchar_t>(0xD800 | (code >> 10));
            wide[units++] = static_cast<wchar_t>(0xDC00 | (code & 0x3FF));
        } else {
            wide[units++] = static_cast<wchar_t>(code);
        }
        i += length;
    }
    return units;
}

} // namespace

std::wstring Utf8ToWide(const char* bytes, std::size_t count)
{
    if (count > static_cast<std::size_t>(INT_MAX)) {
        AtlThrow(E_UNEXPECTED);
    }
    // UTF-8 never takes fewer bytes than UTF-16 units, so a string as long as
    // the input holds the result.
    std::wstring wide(count, L'\0');
    const int decoded = DecodeWellFormed(reinterpret_cast<const unsigned char*>(bytes), count, wide.data());
    if (count != 0 && decoded >= 0) {
        wide.resize(static_cast<std::size_t>(decoded));
        return wide;
    }
    // Ill-formed text is the system's to convert (it replaces what it cannot
    // read), and so is an empty input, which it refuses.
    const int byteCount = static_cast<int>(count);
    const int units = MultiByteToWideChar(CP_UTF8, 0, bytes, byteCount, wide.data(), byteCount);
    if (units == 0) {
        AtlThrowLastWin32();
    }
    wide.resize(static_cast<std::size_t>(units));
    return wide;
}

HRESULT Utf8ToTaskString(std::string_view bytes, PWSTR* text) noexcept
{
    *text = nullptr;
    if (bytes.size() >= static_cast<std::size_t>(INT_MAX)) {
        return E_UNEXPECTED;
    }
    // As in Utf8ToWide: the input's length in units is room enough.
    auto* wide = static_cast<PWSTR>(CoTaskMemAlloc((bytes.size() + 1) * sizeof(wchar_t)));
    if (wide == nullptr) {
        return E_OUTOFMEMORY;
    }
    const int decoded = DecodeWellFormed(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), wide);
    if (decoded < 0) {
        CoTaskMemFree(wide);
        return GuardHResult([&]() -> HRESULT {
            const std::wstring converted = Utf8ToWide(bytes.data(), bytes.size());
            return SHStrDupW(converted.c_str(), text);
        });
    }
    wide[decoded] = L'\0';
    *text = wide;
    return S_OK;
}

std::string WideToUtf8(std::wstring_view text)
{
    if (text.empty()) {
        return {};
    }
    if (text.size() > static_cast<std::size_t>(INT_MAX)) {
        AtlThrow(E_UNEXPECTED);
    }
    // The length is explicit, so a NUL inside a value is converted like any
    // other character instead of ending the text.
    const int units = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
    if (bytes == 0) {
        AtlThrowLastWin32();
    }
    std::string result(static_cast<std::size_t>(bytes), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, text.data(), units, result.data(), bytes, nullptr, nullptr) == 0) {
        AtlThrowLastWin32();
    }
    return result;
}
