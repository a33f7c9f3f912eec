#include "tags/parse_uint32.h"

#include <cwctype>

bool ParseUInt32(const wchar_t* text, ULONG& value) noexcept
{
    constexpr ULONG Largest = 0xFFFFFFFFU;
    value = 0;
    while (std::iswspace(*text)) {
        ++text;
    }
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        const auto digit = static_cast<ULONG>(*text - L'0');
        if (value > (Largest - digit) / 10) {
            return false;
        }
        value = value * 10 + digit;
    }
    while (std::iswspace(*text)) {
        ++text;
    }
    return *text == L'\0';
}
