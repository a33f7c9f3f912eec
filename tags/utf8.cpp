#include "tags/utf8.h"

#include "com/atl_exception.h"

#include <climits>

std::wstring Utf8ToWide(const char* bytes, std::size_t count)
{
    if (count > static_cast<std::size_t>(INT_MAX)) {
        AtlThrow(E_UNEXPECTED);
    }
    const int byteCount = static_cast<int>(count);
    const int units = MultiByteToWideChar(CP_UTF8, 0, bytes, byteCount, nullptr, 0);
    if (units == 0) {
        AtlThrowLastWin32();
    }
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    if (MultiByteToWideChar(CP_UTF8, 0, bytes, byteCount, wide.data(), units) == 0) {
        AtlThrowLastWin32();
    }
    return wide;
}

std::string WideToUtf8(const std::wstring& text)
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
