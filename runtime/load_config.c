// The load configuration directory of every module and program built here,
// and the two pointers through which code compiled with -mguard=cf checks
// its indirect calls. mingw-w64 10's C runtime has neither. The linker
// points the image's load configuration entry at _load_config_used and
// defines the __guard_* symbols it refers to (tables it builds, and absolute
// counts and flags); on Windows the loader then points the two guard
// pointers at the system's checks. Until it does (an older Windows, or a
// program linked without --guard-cf), they lead to defaults that let every
// call through. Guarded code refers to a guard pointer, which brings this
// object, and with it the directory, into every link.
#include "runtime/load_config.h"

#include <stddef.h>

extern char __guard_fids_table[], __guard_fids_count[], __guard_flags[];
extern char __guard_iat_table[], __guard_iat_count[];
extern char __guard_longjmp_table[], __guard_longjmp_count[];
extern char __guard_eh_cont_table[], __guard_eh_cont_count[];

// The check's default: the target (in rcx, ecx or x15) is allowed, and no
// register is touched.
static void AllowIndirectCall(void) {}

// The dispatch's default, for x64 and ARM64, whose guarded code calls its
// target through it: jump to the target (in rax or x9). An indirect jump to
// any address must not be a valid call target itself, or a checked call
// could reach anything through it: it is declared below as data, whose
// address does not enter the table (and the label has no function type).
// Windows marks valid targets in a bitmap of 16-byte slots, and a table entry
// that is not 16-aligned makes its whole slot valid: the jump has a slot of
// its own (aligned before and after), so that no function placed beside it
// (ARM64 functions are only 4-aligned) shares a slot with it.
#if defined(__x86_64__)
__asm__(".text\n"
        ".p2align 4\n"
        ".globl quillbrook_guard_dispatch_default\n"
        "quillbrook_guard_dispatch_default:\n"
        "\tjmp *%rax\n"
        ".p2align 4\n");
#define QUILLBROOK_HAS_DISPATCH 1
#elif defined(__aarch64__)
__asm__(".text\n"
        ".p2align 4\n"
        ".globl quillbrook_guard_dispatch_default\n"
        "quillbrook_guard_dispatch_default:\n"
        "\tbr x9\n"
        ".p2align 4\n");
#define QUILLBROOK_HAS_DISPATCH 1
#endif

// Read-only, in .00cfg (merged into .rdata): the loader makes the page
// writable for the moment it sets them.
__attribute__((section(".00cfg"))) void* const __guard_check_icall_fptr = (void*)&AllowIndirectCall;
#ifdef QUILLBROOK_HAS_DISPATCH
extern const char quillbrook_guard_dispatch_default[];
__attribute__((section(".00cfg"))) void* const __guard_dispatch_icall_fptr = (void*)quillbrook_guard_dispatch_default;
#endif

#define ADDRESS(symbol) ((ULONG_PTR)(symbol))

#if defined(_WIN64)
// In C a 64-bit address cannot fill the 32-bit GuardFlags. The linker's
// __guard_flags is an absolute value below 2^32, and the two words of
// CodeIntegrity after it (Flags, Catalog) are 0 here: one 64-bit field over
// the three, holding the flags, gives the same bytes.
typedef struct LoadConfigImage {
    QUILLBROOK_LOAD_CONFIG_FIELDS(ULONGLONG GuardFlagsAndCodeIntegrityHead; DWORD CatalogOffset; DWORD Reserved;)
} LoadConfigImage;
_Static_assert(sizeof(LoadConfigImage) == sizeof(QuillbrookLoadConfig), "same layout as the directory");
_Static_assert(offsetof(LoadConfigImage, GuardFlagsAndCodeIntegrityHead) == offsetof(QuillbrookLoadConfig, GuardFlags),
               "the merged field is where GuardFlags is");
_Static_assert(offsetof(LoadConfigImage, CatalogOffset) ==
                   offsetof(QuillbrookLoadConfig, CodeIntegrity) +
                       offsetof(QuillbrookLoadConfigCodeIntegrity, CatalogOffset),
               "Flags and Catalog are the merged field's high half");
#define GUARD_FLAGS .GuardFlagsAndCodeIntegrityHead = ADDRESS(__guard_flags)
#else
typedef QuillbrookLoadConfig LoadConfigImage;
#define GUARD_FLAGS .GuardFlags = ADDRESS(__guard_flags)
#endif

// Fields left out are 0: no SafeSEH table (nothing here registers an SEH
// frame: x86 code unwinds with DWARF tables; the x86 images say so with
// IMAGE_DLLCHARACTERISTICS_NO_SEH, see cmake/hardening.cmake, as an x86 image
// with neither would have Windows accept any address in it as an exception
// handler), no security cookie (the stack protector keeps its own guard), no
// hot-patch, enclave or CHPE data.
__attribute__((used)) const LoadConfigImage _load_config_used = {
    .Size = sizeof(LoadConfigImage),
    .GuardCFCheckFunctionPointer = ADDRESS(&__guard_check_icall_fptr),
#ifdef QUILLBROOK_HAS_DISPATCH
    .GuardCFDispatchFunctionPointer = ADDRESS(&__guard_dispatch_icall_fptr),
#endif
    .GuardCFFunctionTable = ADDRESS(__guard_fids_table),
    .GuardCFFunctionCount = ADDRESS(__guard_fids_count),
    GUARD_FLAGS,
    .GuardAddressTakenIatEntryTable = ADDRESS(__guard_iat_table),
    .GuardAddressTakenIatEntryCount = ADDRESS(__guard_iat_count),
    .GuardLongJumpTargetTable = ADDRESS(__guard_longjmp_table),
    .GuardLongJumpTargetCount = ADDRESS(__guard_longjmp_count),
    .GuardEHContinuationTable = ADDRESS(__guard_eh_cont_table),
    .GuardEHContinuationCount = ADDRESS(__guard_eh_cont_count),
};
