// The stack protector's runtime for the clang toolchains, which have no
// libssp: the guard value that -fstack-protector code compares, and the
// handler it calls when the comparison fails. scripts/toolchain builds it
// into each toolchain as libssp.a, so that the modules link it as gcc builds
// link gcc's.
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
#if UINTPTR_MAX > 0xffffffffu
    __stack_chk_guard = (void*)(((uintptr_t)high << 32) | low);
#else
    __stack_chk_guard = (void*)(uintptr_t)(low ^ high);
#endif
}

// The stack of this thread is corrupt: end the process at once, as the
// system's own stack-cookie check does (__fastfail, which mingw-w64 10 does
// not declare), without running more of its code.
__declspec(noreturn) void __stack_chk_fail(void)
{
#if defined(__aarch64__)
    register unsigned int code __asm__("w0") = 2; // FAST_FAIL_STACK_COOKIE_CHECK_FAILURE
    __asm__ __volatile__("brk #0xf003" : : "r"(code));
#else
    __asm__ __volatile__("int $0x29" : : "c"(2)); // FAST_FAIL_STACK_COOKIE_CHECK_FAILURE
#endif
    TerminateProcess(GetCurrentProcess(), (UINT)STATUS_STACK_BUFFER_OVERRUN);
    __builtin_unreachable();
}
