#include "tests/support/test_files.h"

#include "platform/platform.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

std::wstring Widen(const std::string& utf8)
{
    if (utf8.empty()) {
        return {};
    }
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string Narrow(const std::wstring& wide)
{
    if (wide.empty()) {
        return {};
    }
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(), n, nullptr, nullptr);
    return narrow;
}

// Under Wine the build machine's files are under Z:. Test programs copied to
// a Windows machine (tests/windows/run.ps1) find this build tree's files in
// the folder that QUILLBROOK_BUILD_TREE names.
std::wstring ToWindowsPath(const std::string& unixPath)
{
    const std::string buildDir = QUILLBROOK_BUILD_DIR;
    wchar_t tree[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"QUILLBROOK_BUILD_TREE", tree, MAX_PATH);
    std::wstring path;
    if (length > 0 && length < MAX_PATH && unixPath.rfind(buildDir, 0) == 0) {
        path = std::wstring(tree, length) + Widen(unixPath.substr(buildDir.size()));
    } else {
        path = L"Z:" + Widen(unixPath);
    }
    for (auto& c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return path;
}

std::string ToUnixPath(const std::wstring& windowsPath)
{
    std::wstring path = windowsPath;
    if (path.size() >= 2 && (path[0] == L'Z' || path[0] == L'z') && path[1] == L':') {
        path = path.substr(2);
    }
    for (auto& c : path) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    return Narrow(path);
}

std::wstring FixturePath(const std::wstring& name)
{
    return ToWindowsPath(QUILLBROOK_FIXTURES_DIR) + L"\\" + name;
}

std::wstring BuiltModulePath()
{
    return ToWindowsPath(QUILLBROOK_DLL_PATH);
}

std::wstring SharedScratchDir()
{
    static const std::wstring dir = [] {
        const std::wstring path =
            ToWindowsPath(QUILLBROOK_FIXTURES_DIR) + L"\\..\\scratch-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW((ToWindowsPath(QUILLBROOK_FIXTURES_DIR) + L"\\..").c_str(), nullptr);
        CreateDirectoryW(path.c_str(), nullptr);
        return path;
    }();
    return dir;
}

std::wstring ScratchDir()
{
    static const std::wstring dir = [] {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        std::wstring path = std::wstring(temp) + L"quillbrook-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(path.c_str(), nullptr);
        return path;
    }();
    return dir;
}

Bytes ReadFileBytes(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot open " + Narrow(path));
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::wstring& path, const Bytes& bytes)
{
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + Narrow(path));
    }
}

void CopyFixture(const std::wstring& from, const std::wstring& to)
{
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) {
        throw std::runtime_error("cannot copy " + Narrow(from));
    }
    SetFileAttributesW(to.c_str(), FILE_ATTRIBUTE_NORMAL);
}

std::string ShellQuote(const std::string& text)
{
    return "\"" + text + "\"";
}

namespace {

// Quotes one argument by the rules Wine (like Windows) uses to split a
// command line into argv: backslashes are literal unless they precede a quote.
std::string QuoteArgument(const std::string& text)
{
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : text) {
        if (c == '\\') {
            ++backslashes;
        } else if (c == '"') {
            quoted.append(backslashes + 1, '\\');
            backslashes = 0;
        } else {
            backslashes = 0;
        }
        quoted += c;
    }
    quoted.append(backslashes, '\\');
    return quoted + "\"";
}

} // namespace

// Wine starts a Unix program without a process handle and without passing it
// our pipe handles, so the program runs under /bin/sh with its output and exit
// code redirected into files, and we wait for the exit-code file to appear
// (it is renamed into place only once complete).
bool UnixToolsAvailable()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr &&
           GetEnvironmentVariableW(L"QUILLBROOK_NO_UNIX_TOOLS", nullptr, 0) == 0;
}

ToolResult RunUnixTool(const std::string& commandLine)
{
    if (!UnixToolsAvailable()) {
        throw std::runtime_error("no Linux programs here, cannot run " + commandLine);
    }
    static LONG runs = 0;
    const std::string base =
        "/tmp/quillbrook-tool-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++runs);
    const std::string script =
        commandLine + " > " + base + ".out; echo $? > " + base + ".part; mv " + base + ".part " + base + ".rc";
    std::wstring command = Widen("/bin/sh -c " + QuoteArgument(script));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        throw std::runtime_error("cannot start " + commandLine);
    }
    if (process.hProcess != nullptr) {
        CloseHandle(process.hProcess);
    }
    if (process.hThread != nullptr) {
        CloseHandle(process.hThread);
    }
    const std::wstring rcPath = ToWindowsPath(base + ".rc");
    const std::wstring outPath = ToWindowsPath(base + ".out");
    for (int waited = 0; GetFileAttributesW(rcPath.c_str()) == INVALID_FILE_ATTRIBUTES; waited += 20) {
        if (waited > 120000) {
            throw std::runtime_error("no exit code from " + commandLine);
        }
        Sleep(20);
    }
    ToolResult result;
    const Bytes rc = ReadFileBytes(rcPath);
    result.exitCode = std::atoi(std::string(rc.begin(), rc.end()).c_str());
    const Bytes output = ReadFileBytes(outPath);
    result.output.assign(output.begin(), output.end());
    DeleteFileW(rcPath.c_str());
    DeleteFileW(outPath.c_str());
    return result;
}
