// One line per check and a closing count. A check passes, fails, or is
// skipped where the shell's property system is not there at all (Wine, whose
// shell returns E_NOTIMPL): a skipped check never counts as passed, and with
// skips refused (on Windows) it counts as failed.
#pragma once

#include "platform/platform.h"

#include <functional>
#include <stdexcept>
#include <string>

// A check's requirement that did not hold.
class CheckFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The shell answered that it has no such service.
class ShellUnavailable {};

// Throws ShellUnavailable for E_NOTIMPL and for a system class that is not
// registered, CheckFailed naming `what` for any other failure.
void ShellCall(HRESULT hr, const std::string& what);
void Require(bool condition, const std::string& what);
std::string HexResult(HRESULT hr);
std::string Narrow(const std::wstring& text);

class CheckLog {
public:
    explicit CheckLog(bool refuseSkips) : m_refuseSkips(refuseSkips) {}

    // Once the shell is found to have no property system, every check is
    // reported without being run: Wine's stubs answer some calls with
    // placeholders (a 1x1 black image for any thumbnail) rather than fail.
    void ShellHasNoPropertySystem() { m_shellAvailable = false; }
    void Run(const std::string& name, const std::function<void()>& check);
    // Prints "N passed, M failed" (and the skipped count); the exit code.
    int Finish() const;

private:
    bool m_refuseSkips;
    bool m_shellAvailable = true;
    int m_passed = 0;
    int m_failed = 0;
    int m_skipped = 0;
};
