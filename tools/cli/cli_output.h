// What the console program tells: its results on stdout, one line per
// failure on stderr, with the code and the text the system has for it.
#pragma once

#include "binding/binding_report.h"
#include "binding/error_text.h"
#include "tools/cli/console_output.h"

#include <string>

// Decided once, when the program starts, for each stream.
void ChooseCliOutput(HANDLE stdoutHandle, HANDLE stderrHandle);

void Out(const std::string& text);
void Err(const std::string& text);

// The system's text for `hr`, or this program's own for the codes of the
// imaging component, whose texts Windows does not keep in its message table.
std::string ErrorText(HRESULT hr);
// Whether `hr` comes from the imaging component (a picture it cannot read).
bool IsImagingError(HRESULT hr);

// One line: "quillbrook-cli: SUBJECT: WHAT (CODE: TEXT)"; returns `hr`.
HRESULT Fail(const std::wstring& subject, const std::string& what, HRESULT hr);

// The binding commands' report: Out and Fail.
class ConsoleReport final : public BindingReport {
public:
    void Out(const std::string& text) override;
    void Fail(const std::string& what, HRESULT hr) override;
};

// Why opening `file` failed, in words.
std::string OpenFailure(const std::wstring& file, HRESULT hr, bool forWriting);
