// The built quillbrook.dll stays hardened: ASLR (with high-entropy addresses
// on x64 and ARM64) and relocations to apply it, NX, and no section both
// writable and executable; on x86 no SEH handlers (NO_SEH); Control Flow
// Guard with its table of valid call targets, and on x64 CET shadow-stack
// compatibility; and it is built for the machine of its build. Read from the file's PE headers. (Wine enforces
// neither CFG nor CET: what Windows reads to enforce them is checked here.)
#include "tests/robustness/figures.h"
#include "tests/support/test_files.h"

#include "platform/platform.h"
#include "runtime/load_config.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

namespace {

template <class T> T At(const Bytes& bytes, std::size_t offset)
{
    T value{};
    if (offset + sizeof(T) <= bytes.size()) {
        std::memcpy(&value, bytes.data() + offset, sizeof(T));
    } else {
        ADD_FAILURE() << "header beyond the end of the file at " << offset;
    }
    return value;
}

// The headers of a PE file of this build's own architecture (the test
// program is built like the module), and its sections, to find what an RVA
// points at.
struct PeImage {
    Bytes bytes;
    IMAGE_NT_HEADERS nt{};
    std::vector<IMAGE_SECTION_HEADER> sections;

    explicit PeImage(Bytes file) : bytes(std::move(file))
    {
        const auto dos = At<IMAGE_DOS_HEADER>(bytes, 0);
        EXPECT_EQ(dos.e_magic, IMAGE_DOS_SIGNATURE);
        nt = At<IMAGE_NT_HEADERS>(bytes, static_cast<std::size_t>(dos.e_lfanew));
        EXPECT_EQ(nt.Signature, IMAGE_NT_SIGNATURE);
        const std::size_t first = static_cast<std::size_t>(dos.e_lfanew) + offsetof(IMAGE_NT_HEADERS, OptionalHeader) +
                                  nt.FileHeader.SizeOfOptionalHeader;
        for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
            sections.push_back(At<IMAGE_SECTION_HEADER>(bytes, first + i * sizeof(IMAGE_SECTION_HEADER)));
        }
    }

    // The file offset of an RVA; 0 (the DOS header) when no section holds it.
    std::size_t FileOffset(DWORD rva) const
    {
        for (const auto& section : sections) {
            if (rva >= section.VirtualAddress && rva - section.VirtualAddress < section.SizeOfRawData) {
                return section.PointerToRawData + (rva - section.VirtualAddress);
            }
        }
        ADD_FAILURE() << "RVA " << rva << " is in no section";
        return 0;
    }
    template <class T> T AtRva(DWORD rva) const { return At<T>(bytes, FileOffset(rva)); }
    const IMAGE_DATA_DIRECTORY& Directory(int entry) const { return nt.OptionalHeader.DataDirectory[entry]; }
    DWORD RvaOfAddress(ULONG_PTR address) const
    {
        return static_cast<DWORD>(address - static_cast<ULONG_PTR>(nt.OptionalHeader.ImageBase));
    }

    // The RVA of an exported function, 0 if the module exports no such name.
    DWORD ExportRva(const char* wanted) const
    {
        const auto exports = AtRva<IMAGE_EXPORT_DIRECTORY>(Directory(IMAGE_DIRECTORY_ENTRY_EXPORT).VirtualAddress);
        for (DWORD i = 0; i < exports.NumberOfNames; ++i) {
            const std::size_t name = FileOffset(AtRva<DWORD>(exports.AddressOfNames + i * 4));
            if (name != 0 && std::strcmp(reinterpret_cast<const char*>(bytes.data() + name), wanted) == 0) {
                const WORD ordinal = AtRva<WORD>(exports.AddressOfNameOrdinals + i * 2);
                return AtRva<DWORD>(exports.AddressOfFunctions + ordinal * 4);
            }
        }
        return 0;
    }
};

TEST(HardenedModule, DllHasAslrNxAndNoWritableCode)
{
    Figures figures("pe-hardening");
    const Bytes dll = ReadFileBytes(BuiltModulePath());
    const auto dos = At<IMAGE_DOS_HEADER>(dll, 0);
    ASSERT_EQ(dos.e_magic, IMAGE_DOS_SIGNATURE);
    // The headers of this build's own architecture (the test program is
    // built like the module).
    const auto nt = At<IMAGE_NT_HEADERS>(dll, static_cast<std::size_t>(dos.e_lfanew));
    ASSERT_EQ(nt.Signature, IMAGE_NT_SIGNATURE);
    ASSERT_EQ(nt.OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR_MAGIC);
    const WORD characteristics = nt.OptionalHeader.DllCharacteristics;
#if defined(__aarch64__)
    EXPECT_EQ(nt.FileHeader.Machine, IMAGE_FILE_MACHINE_ARM64);
    EXPECT_TRUE(characteristics & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA) << "high-entropy ASLR";
#elif defined(_WIN64)
    EXPECT_EQ(nt.FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
    EXPECT_TRUE(characteristics & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA) << "high-entropy ASLR";
#else
    EXPECT_EQ(nt.FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    // With neither this bit nor a SafeSEH table, a 32-bit host without SEHOP
    // would accept any address in the module as an exception handler.
    EXPECT_TRUE(characteristics & IMAGE_DLLCHARACTERISTICS_NO_SEH) << "NO_SEH";
#endif
    EXPECT_TRUE(characteristics & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE) << "ASLR";
    EXPECT_TRUE(characteristics & IMAGE_DLLCHARACTERISTICS_NX_COMPAT) << "NX";
    EXPECT_FALSE(nt.FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED) << "relocations kept";
    EXPECT_GT(nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size, 0u)
        << "a base relocation table, without which the loader cannot move the module";

    const std::size_t sections = static_cast<std::size_t>(dos.e_lfanew) + offsetof(IMAGE_NT_HEADERS, OptionalHeader) +
                                 nt.FileHeader.SizeOfOptionalHeader;
    int checked = 0;
    for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
        const auto section = At<IMAGE_SECTION_HEADER>(dll, sections + i * sizeof(IMAGE_SECTION_HEADER));
        const std::string name(reinterpret_cast<const char*>(section.Name),
                               strnlen(reinterpret_cast<const char*>(section.Name), IMAGE_SIZEOF_SHORT_NAME));
        const DWORD flags = section.Characteristics;
        EXPECT_FALSE((flags & IMAGE_SCN_MEM_WRITE) && (flags & IMAGE_SCN_MEM_EXECUTE))
            << "section " << name << " is both writable and executable";
        ++checked;
    }
    EXPECT_GT(checked, 2);
    figures.Set("sections_checked", checked);
    figures.Set("dll_characteristics", characteristics);
    figures.Finish();
}

// Control Flow Guard: the loader sends every indirect call of guarded code
// through its check, which lets through only the targets in the module's
// table. The load configuration must say that the module is instrumented and
// carries the table, the table must hold the functions that others call in
// through pointers (DllGetClassObject, which COM calls after GetProcAddress),
// and the headers must ask for the guard. On x64 the module also declares
// itself compatible with CET shadow stacks (an extended DLL characteristic in
// the debug directory).
TEST(HardenedModule, DllHasControlFlowGuard)
{
    Figures figures("pe-control-flow-guard");
    const PeImage dll(ReadFileBytes(BuiltModulePath()));
    EXPECT_TRUE(dll.nt.OptionalHeader.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_GUARD_CF) << "GUARD_CF";

    const auto& entry = dll.Directory(IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG);
    ASSERT_GE(entry.Size, offsetof(QuillbrookLoadConfig, CodeIntegrity)) << "a load configuration with guard fields";
    const auto config = dll.AtRva<QuillbrookLoadConfig>(entry.VirtualAddress);
    EXPECT_GE(config.Size, offsetof(QuillbrookLoadConfig, CodeIntegrity));
    EXPECT_TRUE(config.GuardFlags & QUILLBROOK_GUARD_CF_INSTRUMENTED) << "CF_INSTRUMENTED";
    EXPECT_TRUE(config.GuardFlags & QUILLBROOK_GUARD_CF_FUNCTION_TABLE_PRESENT) << "FUNCTION_TABLE_PRESENT";
    EXPECT_NE(config.GuardCFCheckFunctionPointer, 0u) << "the check pointer the loader sets";
#if defined(__x86_64__) || defined(__aarch64__)
    EXPECT_NE(config.GuardCFDispatchFunctionPointer, 0u) << "the dispatch pointer the loader sets";
#endif
    ASSERT_GT(config.GuardCFFunctionCount, 0u) << "valid call targets";

    // Windows' bitmap of valid targets, from the table: each entry (a 4-byte
    // RVA, then the metadata bytes that the flags give) marks its 16-byte
    // slot, an aligned one for its own address only, any other for the
    // whole slot; a suppressed one marks nothing.
    const std::size_t stride = 4 + (config.GuardFlags >> QUILLBROOK_GUARD_CF_FUNCTION_TABLE_SIZE_SHIFT);
    const DWORD table = dll.RvaOfAddress(config.GuardCFFunctionTable);
    std::set<DWORD> alignedTargets;
    std::set<DWORD> wholeSlots;
    for (ULONG_PTR i = 0; i < config.GuardCFFunctionCount; ++i) {
        const DWORD entry = static_cast<DWORD>(table + i * stride);
        constexpr BYTE suppressed = 0x01; // IMAGE_GUARD_FLAG_FID_SUPPRESSED
        if (stride > 4 && (dll.AtRva<BYTE>(entry + 4) & suppressed)) {
            continue;
        }
        const DWORD target = dll.AtRva<DWORD>(entry);
        if (target % 16 == 0) {
            alignedTargets.insert(target);
        } else {
            wholeSlots.insert(target / 16);
        }
    }
    const auto valid = [&](DWORD rva) { return alignedTargets.count(rva) || wholeSlots.count(rva / 16); };
    const DWORD getClassObject = dll.ExportRva("DllGetClassObject");
    ASSERT_NE(getClassObject, 0u) << "DllGetClassObject exported";
    EXPECT_TRUE(valid(getClassObject)) << "DllGetClassObject a valid call target";
#if defined(__x86_64__) || defined(__aarch64__)
    // The dispatch pointer's default jumps to whatever address it is given:
    // as a valid call target it would let a checked call go anywhere.
    const auto dispatchDefault = dll.AtRva<ULONG_PTR>(dll.RvaOfAddress(config.GuardCFDispatchFunctionPointer));
    EXPECT_FALSE(valid(dll.RvaOfAddress(dispatchDefault)))
        << "the dispatch default, or a target in its 16-byte slot, is a valid call target";
#endif
    // The longjmp flag only with a table: Windows would take it as the list
    // of every place a longjmp may land.
    EXPECT_EQ((config.GuardFlags & QUILLBROOK_GUARD_CF_LONGJUMP_TABLE_PRESENT) != 0,
              config.GuardLongJumpTargetCount > 0)
        << "LONGJUMP_TABLE_PRESENT with " << config.GuardLongJumpTargetCount << " longjmp targets";

    bool cetCompatible = false;
    const auto& debug = dll.Directory(IMAGE_DIRECTORY_ENTRY_DEBUG);
    for (DWORD offset = 0; offset + sizeof(IMAGE_DEBUG_DIRECTORY) <= debug.Size;
         offset += sizeof(IMAGE_DEBUG_DIRECTORY)) {
        const auto record = dll.AtRva<IMAGE_DEBUG_DIRECTORY>(debug.VirtualAddress + offset);
        constexpr DWORD extendedCharacteristics = 20; // IMAGE_DEBUG_TYPE_EX_DLLCHARACTERISTICS
        constexpr DWORD cetCompat = 0x01;             // IMAGE_DLLCHARACTERISTICS_EX_CET_COMPAT
        if (record.Type == extendedCharacteristics && record.SizeOfData >= 4) {
            cetCompatible = At<DWORD>(dll.bytes, record.PointerToRawData) & cetCompat;
        }
    }
#if defined(__x86_64__)
    EXPECT_TRUE(cetCompatible) << "CET_COMPAT";
#endif
    figures.Set("guard_flags", config.GuardFlags);
    figures.Set("guard_functions", static_cast<long long>(config.GuardCFFunctionCount));
    figures.Set("cet_compatible", cetCompatible ? 1 : 0);
    figures.Finish();
}

} // namespace
