// Files for tests: where the generated fixtures are, Unix/Windows path
// conversion, whole-file reads and writes, and running the reference tools
// (flac, metaflac) on the Linux side.
#pragma once

#include "tests/support/flac_builder.h"

#include <string>

// A fixture made by the reference encoder, as a Windows path.
std::wstring FixturePath(const std::wstring& name);
// The built quillbrook.dll, as a Windows path.
std::wstring BuiltModulePath();
// A fresh scratch directory for this test program (Windows path).
std::wstring ScratchDir();
// A scratch directory inside the build tree, which the Linux-side tools can
// read too (Windows path on Z:).
std::wstring SharedScratchDir();

std::wstring ToWindowsPath(const std::string& unixPath);
std::string ToUnixPath(const std::wstring& windowsPath);
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);

Bytes ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const Bytes& bytes);
void CopyFixture(const std::wstring& from, const std::wstring& to);

struct ToolResult {
    int exitCode = -1;
    std::string output;
};

// Whether the Linux programs can be run: under Wine, unless
// QUILLBROOK_NO_UNIX_TOOLS is set, as the replay of the Windows run sets it
// (tests/windows/replay_test.sh); never on Windows.
bool UnixToolsAvailable();

// Runs a Linux program (for example "/usr/bin/metaflac --list x.flac") and
// collects its standard output. Paths in `commandLine` are Unix paths.
// Throws where UnixToolsAvailable() is false.
ToolResult RunUnixTool(const std::string& commandLine);

// Quotes a Unix path for a command line.
std::string ShellQuote(const std::string& text);
