# Hardened PE: ASLR (with high-entropy addresses on x64), NX, stack protector,
# and fortified libc calls in optimised builds. SafeSEH does not apply: GNU ld
# writes no SafeSEH table for x86, whose mingw code unwinds with DWARF tables
# rather than SEH handlers. Everything is linked statically
# (libgcc, libstdc++, winpthread, libssp), so that the module imports only
# Windows system DLLs.
add_compile_options(-fstack-protector-strong)
add_compile_options($<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
add_link_options(-static -Wl,--dynamicbase -Wl,--nxcompat)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    add_link_options(-Wl,--high-entropy-va)
endif()
link_libraries(ssp)
