# Hardened PE: ASLR (with high-entropy addresses on x64 and ARM64), NX, stack
# protector, and fortified libc calls in optimised gcc builds. SafeSEH does
# not apply: GNU ld writes no SafeSEH table for x86, whose mingw code unwinds
# with DWARF tables rather than SEH handlers. Everything is linked statically
# (libgcc, libstdc++, winpthread, libssp; on ARM64 compiler-rt, libc++ and
# the toolchain's own libssp), so that the module imports only Windows system
# DLLs. The ARM64 toolchain's C runtime (mingw-w64 10) has no fortified
# functions to call, so its builds are not fortified.
add_compile_options(-fstack-protector-strong)
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    add_compile_options($<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
endif()
add_link_options(-static -Wl,--dynamicbase -Wl,--nxcompat)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    add_link_options(-Wl,--high-entropy-va)
endif()
link_libraries(ssp)
