#include "tools/cli/console_output.h"

#include "binding/utf8_text.h"

#include <cstdio>

OutputKind ChooseOutput(HANDLE handle)
{
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_CHAR &&
                   GetConsoleMode(handle, &mode)
               ? OutputKind::Console
               : OutputKind::Utf8Bytes;
}

void WriteText(FILE* stream, OutputKind kind, const std::string& text)
{
    if (kind == OutputKind::Utf8Bytes) {
        std::fwrite(text.data(), 1, text.size(), stream);
        return;
    }
    const std::wstring wide = Utf16(text);
    // What went through the C library before goes out first.
    std::fflush(stream);
    const HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD written = 0;
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}
