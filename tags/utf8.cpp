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
