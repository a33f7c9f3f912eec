// The built quillbrook.dll stays hardened: ASLR (with high-entropy addresses
// on x64 and ARM64) and relocations to apply it, NX, and no section both
// writable and executable; and it is built for the machine of its build.
// Read from the file's PE headers.
#include "tests/robustness/figures.h"
#include "tests/support/test_files.h"

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstring>

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

} // namespace
