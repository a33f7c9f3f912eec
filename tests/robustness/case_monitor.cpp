#include "tests/robustness/case_monitor.h"

#include "tests/robustness/figures.h"

#include "platform/platform.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

// Fixed buffers: the reports run in a faulting process and must not depend
// on the heap.
char g_figuresName[128];
char g_case[512];
std::atomic<ULONGLONG> g_caseStart{0};
unsigned g_caseLimitMs = 20000;
std::atomic<bool> g_installed{false};

[[noreturn]] void Abort(const char* kind, const char* detail, UINT exitCode)
{
    std::fprintf(stderr, "\n%s in case [%s]: %s\n", kind, g_case, detail);
    std::fflush(stderr);
    std::fprintf(stdout, "\n%s in case [%s]: %s\n", kind, g_case, detail);
    std::fflush(stdout);
    Figures::RecordAbort(g_figuresName, kind);
    TerminateProcess(GetCurrentProcess(), exitCode);
    for (;;) {
        Sleep(INFINITE);
    }
}

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info)
{
    char detail[96];
    std::snprintf(detail, sizeof(detail), "exception 0x%08lX at %p",
                  static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
                  info->ExceptionRecord->ExceptionAddress);
    Abort("crashes", detail, 3);
}

DWORD WINAPI Watchdog(void*)
{
    for (;;) {
        Sleep(250);
        const ULONGLONG start = g_caseStart.load();
        if (start != 0 && GetTickCount64() - start > g_caseLimitMs) {
            char detail[64];
            std::snprintf(detail, sizeof(detail), "still running after %u ms", g_caseLimitMs);
            Abort("hangs", detail, 4);
        }
    }
}

} // namespace

void CaseMonitor::Install(const std::string& figuresName, unsigned caseLimitMs)
{
    std::snprintf(g_figuresName, sizeof(g_figuresName), "%s", figuresName.c_str());
    g_caseLimitMs = caseLimitMs;
    if (g_installed.exchange(true)) {
        return;
    }
    SetUnhandledExceptionFilter(ReportCrash);
    if (HANDLE thread = CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr)) {
        CloseHandle(thread);
    }
}

void CaseMonitor::Begin(const std::string& description)
{
    std::snprintf(g_case, sizeof(g_case), "%s", description.c_str());
    g_caseStart.store(GetTickCount64());
}

void CaseMonitor::End()
{
    g_caseStart.store(0);
}
