#include "installer/actions/installer_log.h"

#include "binding/error_text.h"
#include "binding/utf8_text.h"

#include <msiquery.h>

InstallerLog::InstallerLog(MSIHANDLE install, const char* action) : m_install(install), m_action(action) {}

InstallerLog::~InstallerLog()
{
    if (!m_pending.empty()) {
        WriteLine(m_pending);
    }
}

void InstallerLog::Write(const std::string& text)
{
    m_pending += text;
    std::size_t end;
    while ((end = m_pending.find('\n')) != std::string::npos) {
        WriteLine(m_pending.substr(0, end));
        m_pending.erase(0, end + 1);
    }
}

void InstallerLog::Out(const std::string& text)
{
    Write(text);
}

void InstallerLog::Fail(const std::string& what, HRESULT hr)
{
    const std::string text = SystemText(hr);
    Write("failed: " + what + " (" + Hex(hr) + ": " + (text.empty() ? "unknown error" : text) + ")\n");
}

void InstallerLog::WriteLine(const std::string& line)
{
    // The line is the record's field 1, and the template only "[1]": the
    // installer formats a template, and a line may hold brackets.
    PMSIHANDLE record = MsiCreateRecord(1);
    if (record == 0) {
        return;
    }
    MsiRecordSetStringW(record, 0, L"[1]");
    MsiRecordSetStringW(record, 1, Utf16(m_action + ": " + line).c_str());
    MsiProcessMessage(m_install, INSTALLMESSAGE_INFO, record);
}
