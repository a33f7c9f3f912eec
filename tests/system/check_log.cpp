#include "tests/system/check_log.h"

#include <cstdio>

void ShellCall(HRESULT hr, const std::string& what)
{
    if (hr == E_NOTIMPL || hr == REGDB_E_CLASSNOTREG) {
        throw ShellUnavailable{};
    }
    if (FAILED(hr)) {
        throw CheckFailed(what + " failed with " + HexResult(hr));
    }
}

void Require(bool condition, const std::string& what)
{
    if (!condition) {
        throw CheckFailed(what);
    }
}

std::string HexResult(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

std::string Narrow(const std::wstring& text)
{
    int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size : 0, '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), result.data(), size, nullptr,
                            nullptr);
    }
    return result;
}

void CheckLog::Run(const std::string& name, const std::function<void()>& check)
{
    try {
        if (!m_shellAvailable) {
            throw ShellUnavailable{};
        }
        check();
        ++m_passed;
        std::printf("%s: passed\n", name.c_str());
    } catch (const ShellUnavailable&) {
        if (m_refuseSkips) {
            ++m_failed;
            std::printf("%s: failed: the shell's property system is not available\n", name.c_str());
        } else {
            ++m_skipped;
            std::printf("%s: skipped: the shell's property system is not available\n", name.c_str());
        }
    } catch (const std::exception& failure) {
        ++m_failed;
        std::printf("%s: failed: %s\n", name.c_str(), failure.what());
    }
    std::fflush(stdout);
}

int CheckLog::Finish() const
{
    std::printf("%d passed, %d failed, %d skipped\n", m_passed, m_failed, m_skipped);
    std::fflush(stdout);
    return m_failed == 0 ? 0 : 1;
}
