#include "installer/actions/installer_log.h"

#include "binding/error_text.h"
#include "binding/utf8_text.h"

#include <msiquery.h>

#include <iterator>

namespace {

// Sets the record's template to "[1]" and its field 1 to `line`, and sends
// it: the installer formats a template, and a line may hold brackets.
void SendLine(MSIHANDLE install, const wchar_t* line) noexcept
{
    PMSIHANDLE record = MsiCreateRecord(1);
    if (record == 0) {
        return;
    }
    MsiRecordSetStringW(record, 0, L"[1]");
    MsiRecordSetStringW(record, 1, line);
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
}

} // namespace

void InstallerLog::Flush()
{
    if (!m_pending.empty()) {
        WriteLine(m_pending);
        m_pending.clear();
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
    SendLine(m_install, Utf16(std::string(m_action) + ": " + line).c_str());
}

void InstallerLog::WriteWithoutMemory(MSIHANDLE install, const char* action, const char* what,
                                      const char* detail) noexcept
{
    wchar_t line[512];
    std::size_t length = 0;
    for (const char* part : {action, ": ", what, detail}) {
        for (const char* c = part; c != nullptr && *c != '\0' && length + 1 < std::size(line); ++c) {
            const auto byte = static_cast<unsigned char>(*c);
            line[length++] = byte < 0x80 ? static_cast<wchar_t>(byte) : L'?';
        }
    }
    line[length] = L'\0';
    SendLine(install, line);
}
