// The stack protector's runtime for the ARM64 toolchain, which has no libssp:
// the guard value that -fstack-protector code compares, and the handler it
// calls when the comparison fails. scripts/setup builds it into the
// toolchain as libssp.a, so that the modules link it as the gcc builds link
// gcc's.
#define _CRT_RAND_S
#include <stdint.h>
#include <stdlib.h>
#include <windows.h>

void* __stack_chk_guard = 0;

// Runs with the other static initialisers, before any code of the module
// that the protector checks; the C runtime that calls it is not checked.
static void __attribute__((constructor)) InitialiseStackGuard(void)
{
    unsigned int low = 0, high = 0;
    if (rand_s(&low) != 0 || rand_s(&high) != 0) {
        low = (unsigned int)GetTickCount() ^ GetCurrentProcessId();
        high = GetCurrentThreadId() ^ 0x5bd1e995u;
    }
    __stack_chk_guard = (void*)(((uintptr_t)high << 32) | low);
}

// The stack of this thread is corrupt: end the process at once, as the
// system's own stack-cookie check does, without running more of its code.
__declspec(noreturn) void __stack_chk_fail(void)
{
    register unsigned int code __asm__("w0") = 2; // FAST_FAIL_STACK_COOKIE_CHECK_FAILURE
    __asm__ __volatile__("brk #0xf003" : : "r"(code));
    TerminateProcess(GetCurrentProcess(), (UINT)STATUS_STACK_BUFFER_OVERRUN);
    __builtin_unreachable();
}
