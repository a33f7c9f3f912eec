// The text of a custom action, line by line, into the installer log.
#pragma once

#include "binding/binding_report.h"
#include "platform/platform.h"

#include <msi.h>

#include <string>

class InstallerLog final : public BindingReport {
public:
    // Each line goes to the log of `install`, after "ACTION: ".
    InstallerLog(MSIHANDLE install, const char* action);
    // Whatever is left without a closing newline.
    ~InstallerLog();
    InstallerLog(const InstallerLog&) = delete;
    InstallerLog& operator=(const InstallerLog&) = delete;

    // Text in UTF-8, in pieces of any length.
    void Write(const std::string& text);

    // A binding command's report: its text, and its failures as
    // "failed: WHAT (CODE: TEXT)".
    void Out(const std::string& text) override;
    void Fail(const std::string& what, HRESULT hr) override;

private:
    void WriteLine(const std::string& line);

    MSIHANDLE m_install;
    std::string m_action;
    std::string m_pending;
};
