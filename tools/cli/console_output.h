// How the console program writes its text. A console shows UTF-16 text
// written with WriteConsoleW, whatever its code page; UTF-8 bytes written to
// it show non-ASCII names garbled. Redirected to a file or a pipe, the text
// stays UTF-8, for the program that reads it.
#pragma once

#include "platform/platform.h"

#include <string>

enum class OutputKind {
    // A console: WriteConsoleW.
    Console,
    // A file, a pipe or a device such as NUL: UTF-8 bytes.
    Utf8Bytes,
};

// A console is a character device that has a console mode; NUL is a
// character device without one.
OutputKind ChooseOutput(HANDLE handle);

// Writes UTF-8 `text` to `stream` (stdout or stderr) as `kind` says.
void WriteText(FILE* stream, OutputKind kind, const std::string& text);
