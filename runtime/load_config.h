// The load configuration directory of a PE image, laid out as the PE format
// documents IMAGE_LOAD_CONFIG_DIRECTORY32 and IMAGE_LOAD_CONFIG_DIRECTORY64,
// up to the EH continuation table, for the architecture being built.
// mingw-w64 10's winnt.h stops at the SafeSEH fields, before Control Flow
// Guard's. Written by runtime/load_config.c, read back by the hardened-PE
// test.
#pragma once

#include <windows.h>

typedef struct QuillbrookLoadConfigCodeIntegrity {
    WORD Flags;
    WORD Catalog;
    DWORD CatalogOffset;
    DWORD Reserved;
} QuillbrookLoadConfigCodeIntegrity;

// Addresses and counts have the width of a pointer (ULONG_PTR); the two
// layouts differ only in that and in the order of the process heap flags and
// affinity mask.
#if defined(_WIN64)
#define QUILLBROOK_LOAD_CONFIG_HEAP_FIELDS                                                                             \
    ULONG_PTR ProcessAffinityMask;                                                                                     \
    DWORD ProcessHeapFlags;
#else
#define QUILLBROOK_LOAD_CONFIG_HEAP_FIELDS                                                                             \
    DWORD ProcessHeapFlags;                                                                                            \
    ULONG_PTR ProcessAffinityMask;
#endif
// The fields in order; GUARD_FLAGS_FIELDS stands for GuardFlags and
// CodeIntegrity (16 bytes), which runtime/load_config.c declares differently.
#define QUILLBROOK_LOAD_CONFIG_FIELDS(GUARD_FLAGS_FIELDS)                                                              \
    DWORD Size;                                                                                                        \
    DWORD TimeDateStamp;                                                                                               \
    WORD MajorVersion;                                                                                                 \
    WORD MinorVersion;                                                                                                 \
    DWORD GlobalFlagsClear;                                                                                            \
    DWORD GlobalFlagsSet;                                                                                              \
    DWORD CriticalSectionDefaultTimeout;                                                                               \
    ULONG_PTR DeCommitFreeBlockThreshold;                                                                              \
    ULONG_PTR DeCommitTotalFreeThreshold;                                                                              \
    ULONG_PTR LockPrefixTable;                                                                                         \
    ULONG_PTR MaximumAllocationSize;                                                                                   \
    ULONG_PTR VirtualMemoryThreshold;                                                                                  \
    QUILLBROOK_LOAD_CONFIG_HEAP_FIELDS                                                                                 \
    WORD CSDVersion;                                                                                                   \
    WORD DependentLoadFlags;                                                                                           \
    ULONG_PTR EditList;                                                                                                \
    ULONG_PTR SecurityCookie;                                                                                          \
    ULONG_PTR SEHandlerTable;                                                                                          \
    ULONG_PTR SEHandlerCount;                                                                                          \
    ULONG_PTR GuardCFCheckFunctionPointer;                                                                             \
    ULONG_PTR GuardCFDispatchFunctionPointer;                                                                          \
    ULONG_PTR GuardCFFunctionTable;                                                                                    \
    ULONG_PTR GuardCFFunctionCount;                                                                                    \
    GUARD_FLAGS_FIELDS                                                                                                 \
    ULONG_PTR GuardAddressTakenIatEntryTable;                                                                          \
    ULONG_PTR GuardAddressTakenIatEntryCount;                                                                          \
    ULONG_PTR GuardLongJumpTargetTable;                                                                                \
    ULONG_PTR GuardLongJumpTargetCount;                                                                                \
    ULONG_PTR DynamicValueRelocTable;                                                                                  \
    ULONG_PTR CHPEMetadataPointer;                                                                                     \
    ULONG_PTR GuardRFFailureRoutine;                                                                                   \
    ULONG_PTR GuardRFFailureRoutineFunctionPointer;                                                                    \
    DWORD DynamicValueRelocTableOffset;                                                                                \
    WORD DynamicValueRelocTableSection;                                                                                \
    WORD Reserved2;                                                                                                    \
    ULONG_PTR GuardRFVerifyStackPointerFunctionPointer;                                                                \
    DWORD HotPatchTableOffset;                                                                                         \
    DWORD Reserved3;                                                                                                   \
    ULONG_PTR EnclaveConfigurationPointer;                                                                             \
    ULONG_PTR VolatileMetadataPointer;                                                                                 \
    ULONG_PTR GuardEHContinuationTable;                                                                                \
    ULONG_PTR GuardEHContinuationCount;

typedef struct QuillbrookLoadConfig {
    QUILLBROOK_LOAD_CONFIG_FIELDS(DWORD GuardFlags; QuillbrookLoadConfigCodeIntegrity CodeIntegrity;)
} QuillbrookLoadConfig;

// The documented offsets and sizes.
#ifdef __cplusplus
#define QUILLBROOK_LAYOUT_CHECK static_assert
#else
#define QUILLBROOK_LAYOUT_CHECK _Static_assert
#endif
#if defined(_WIN64)
QUILLBROOK_LAYOUT_CHECK(__builtin_offsetof(QuillbrookLoadConfig, SecurityCookie) == 88, "64-bit layout");
QUILLBROOK_LAYOUT_CHECK(__builtin_offsetof(QuillbrookLoadConfig, GuardCFCheckFunctionPointer) == 112, "64-bit layout");
QUILLBROOK_LAYOUT_CHECK(__builtin_offsetof(QuillbrookLoadConfig, GuardFlags) == 144, "64-bit layout");
QUILLBROOK_LAYOUT_CHECK(__builtin_offsetof(QuillbrookLoadConfig, GuardAddressTakenIatEntryTable) == 160,
                        "64-bit layout");
QUILLBROOK_LAYOUT_CHECK(__builtin_offsetof(QuillbrookLoadConfig, DynamicValueRelocTableOffset) == 224, "64-bit layout");
QUILLBROOK_LAYOUT_CHECK(sizeof(QuillbrookLoadConfig) == 280, "64-bit layout");
#else
QUILLBROOK_LAYOUT_CHECK(__builtin_offsetof(QuillbrookLoadConfig, SecurityCookie) == 60, "32-bit layout");
QUILLBROOK_LAYOUT_CHECK(__builtin_offsetof(QuillbrookLoadConfig, GuardCFCheckFunctionPointer) == 72, "32-bit layout");
QUILLBROOK_LAYOUT_CHECK(__builtin_offsetof(QuillbrookLoadConfig, GuardFlags) == 88, "32-bit layout");
QUILLBROOK_LAYOUT_CHECK(__builtin_offsetof(QuillbrookLoadConfig, GuardAddressTakenIatEntryTable) == 104,
                        "32-bit layout");
QUILLBROOK_LAYOUT_CHECK(__builtin_offsetof(QuillbrookLoadConfig, DynamicValueRelocTableOffset) == 136, "32-bit layout");
QUILLBROOK_LAYOUT_CHECK(sizeof(QuillbrookLoadConfig) == 172, "32-bit layout");
#endif

// GuardFlags bits (winnt.h's IMAGE_GUARD_*).
#define QUILLBROOK_GUARD_CF_INSTRUMENTED 0x00000100u
#define QUILLBROOK_GUARD_CF_FUNCTION_TABLE_PRESENT 0x00000400u
#define QUILLBROOK_GUARD_CF_LONGJUMP_TABLE_PRESENT 0x00010000u
// Bits 28-31: the bytes of metadata after each 4-byte entry of the function
// table.
#define QUILLBROOK_GUARD_CF_FUNCTION_TABLE_SIZE_SHIFT 28
