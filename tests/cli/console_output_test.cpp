// Where the console program's text goes: WriteConsoleW only to a console,
// UTF-8 bytes to everything else (a file, a pipe, NUL). Wine runs these tests
// without a console, so a console itself is seen only where one exists.
#include "tools/cli/console_output.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ConsoleOutput, FileGetsUtf8)
{
    wchar_t folder[MAX_PATH] = {};
    wchar_t path[MAX_PATH] = {};
    ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
    ASSERT_NE(GetTempFileNameW(folder, L"qco", 0, path), 0u);
    const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ChooseOutput(file), OutputKind::Utf8Bytes);
    CloseHandle(file);
    DeleteFileW(path);
}

TEST(ConsoleOutput, PipeGetsUtf8)
{
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    ASSERT_TRUE(CreatePipe(&read, &write, nullptr, 0));
    EXPECT_EQ(ChooseOutput(write), OutputKind::Utf8Bytes);
    CloseHandle(read);
    CloseHandle(write);
}

// NUL is a character device, as a console is, but has no console mode:
// WriteConsoleW would fail on it.
TEST(ConsoleOutput, NulDeviceGetsUtf8)
{
    const HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(nul, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileType(nul), static_cast<DWORD>(FILE_TYPE_CHAR));
    EXPECT_EQ(ChooseOutput(nul), OutputKind::Utf8Bytes);
    CloseHandle(nul);
}

TEST(ConsoleOutput, NoHandleGetsUtf8)
{
    EXPECT_EQ(ChooseOutput(nullptr), OutputKind::Utf8Bytes);
    EXPECT_EQ(ChooseOutput(INVALID_HANDLE_VALUE), OutputKind::Utf8Bytes);
}

TEST(ConsoleOutput, ConsoleGetsWriteConsole)
{
    const HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD mode = 0;
    if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode)) {
        if (console != INVALID_HANDLE_VALUE) {
            CloseHandle(console);
        }
        GTEST_SKIP() << "no console in this process";
    }
    EXPECT_EQ(ChooseOutput(console), OutputKind::Console);
    CloseHandle(console);
}

} // namespace
