// The text of a custom action, line by line, into the installer log.
#pragma once

#include "binding/binding_report.h"
#include "platform/platform.h"

#include <msi.h>

#include <string>

class InstallerLog final : public BindingReport {
public:
    // Each line goes to the log of `install`, after "ACTION: ". `action`
    // must outlive the log (the entry point's name).
    InstallerLog(MSIHANDLE install, const char* action) noexcept : m_install(install), m_action(action) {}
    // Writes nothing: what is left without a closing newline goes with
    // Flush, which can run out of memory where a destructor must not.
    ~InstallerLog() = default;
    InstallerLog(const InstallerLog&) = delete;
    InstallerLog& operator=(const InstallerLog&) = delete;

    // Text in UTF-8, in pieces of any length.
    void Write(const std::string& text);
    // Whatever is left without a closing newline.
    void Flush();

    // A binding command's report: its text, and its failures as
    // "failed: WHAT (CODE: TEXT)".
    void Out(const std::string& text) override;
    void Fail(const std::string& what, HRESULT hr) override;

    // One line, "ACTION: WHAT DETAIL", written without allocating memory:
    // for the custom action's catch handlers, where none may be left. Cut
    // short if long; bytes outside ASCII become '?'.
    static void WriteWithoutMemory(MSIHANDLE install, const char* action, const char* what,
                                   const char* detail = "") noexcept;

private:
    void WriteLine(const std::string& line);

    MSIHANDLE m_install;
    const char* m_action;
    std::string m_pending;
};
