// Crash and hang reporting for long test runs: the case under way is named
// in a report when the process faults or a case outlives its time bound, and
// the process then ends with a failure code, so that CTest shows which seed or
// case failed instead of a silent death or a stall.
#pragma once

#include <string>

class CaseMonitor {
public:
    // Installs the unhandled-exception filter and starts the watchdog (once
    // per process). `figuresName` names the figures file that a crash or hang
    // is recorded in (none when empty).
    static void Install(const std::string& figuresName, unsigned caseLimitMs = 20000);

    // Marks the start and end of one case.
    static void Begin(const std::string& description);
    static void End();
};

// Begin/End for one scope.
class CaseScope {
public:
    explicit CaseScope(const std::string& description) { CaseMonitor::Begin(description); }
    ~CaseScope() { CaseMonitor::End(); }
    CaseScope(const CaseScope&) = delete;
    CaseScope& operator=(const CaseScope&) = delete;
};
