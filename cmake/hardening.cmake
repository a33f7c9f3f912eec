# Hardened PE: ASLR (with high-entropy addresses on x64 and ARM64), NX, stack
# protector, and Control Flow Guard (compiled in by the toolchain files, see
# cmake/codegen.cmake). On x86, no SEH handlers: nothing here registers an
# SEH frame (x86 code unwinds with DWARF tables), and the images say so
# (IMAGE_DLLCHARACTERISTICS_NO_SEH). An x86 image with neither that bit nor
# a SafeSEH table counts as legacy code, in which Windows accepts any address
# as an exception handler when a 32-bit host runs without SEHOP. Not
# fortified: mingw-w64 10's C headers have no fortified functions
# (_FORTIFY_SOURCE changes nothing).
# Everything is linked statically (the mingw-w64 C runtime, compiler-rt,
# libunwind, libc++abi, libc++ and the toolchain's own libssp, all compiled
# with the guard by scripts/toolchain), so that the module imports only
# Windows system DLLs.
add_compile_options(-fstack-protector-strong)
add_link_options(-static -Wl,--dynamicbase -Wl,--nxcompat)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    add_link_options(-Wl,--high-entropy-va)
else()
    add_link_options(-Wl,--no-seh)
endif()
# The same bytes from every build of one commit: no link time in the headers
# (lld then writes 0), and PDBs that name the build tree by a fixed name.
add_link_options(-Wl,--no-insert-timestamp -Wl,--Xlink=-pdbsourcepath:/quillbrook-build)
# The load configuration directory and the guard pointers (runtime/), in
# every program and module: guarded code refers to them.
add_library(quillbrook_runtime STATIC runtime/load_config.c)
target_include_directories(quillbrook_runtime PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(quillbrook_runtime PRIVATE -Wall -Wextra -Werror)
link_libraries(ssp quillbrook_runtime)
# clang links with --guard-cf wherever -mguard=cf is in the flags; lld 16
# crashes on it for the largest test program (a bug fixed in LLVM 18), so
# only what is shipped is linked with the guard tables (quillbrook_shipped).
add_link_options(-Wl,--no-guard-cf)

# A file that the installers ship (the module, the console program):
# - linked with Control Flow Guard's tables, and on x64 marked compatible with
#   CET shadow stacks;
# - with its debug information in NAME.pdb beside it, which the file names
#   by its bare name (no build path) and matches by GUID and age, and which
#   holds no path of this machine (the same bytes wherever the sources, the
#   build tree and the dependencies are); the file
#   itself is then stripped of the DWARF that the prebuilt runtimes bring
#   along (lld keeps it even with a PDB);
# - with NAME.libs and NAME.inputs beside it (cmake/record-link-inputs): the
#   static libraries the link took members from, which the third-party
#   notices must name, and the objects and libraries of this build, which
#   must all be compiled with the guard.
find_program(QUILLBROOK_OBJCOPY NAMES llvm-objcopy-16 REQUIRED)
function(quillbrook_shipped target)
    get_target_property(_name ${target} OUTPUT_NAME)
    if(NOT _name)
        set(_name ${target})
    endif()
    # The toolchain by its link in the build tree, by a relative path: lld
    # writes its command line and the paths of its inputs into the PDB.
    file(RELATIVE_PATH _toolchain "${CMAKE_CURRENT_BINARY_DIR}" "${QUILLBROOK_TOOLCHAIN_LINK}")
    # No longjmp table: nothing here calls setjmp, and the flag that says
    # there is one goes with the table only.
    target_link_options(${target} PRIVATE -Wl,--guard-cf -Wl,--no-guard-longjmp
        --sysroot=${_toolchain} -resource-dir=${_toolchain}/resource
        -Wl,--pdb=${_name}.pdb -Wl,--Xlink=-pdbaltpath:${_name}.pdb)
    set_target_properties(${target} PROPERTIES
        C_LINKER_LAUNCHER "${CMAKE_SOURCE_DIR}/cmake/record-link-inputs"
        CXX_LINKER_LAUNCHER "${CMAKE_SOURCE_DIR}/cmake/record-link-inputs")
    if(QUILLBROOK_ARCH STREQUAL "x64")
        target_link_options(${target} PRIVATE -Wl,--Xlink=-cetcompat)
    endif()
    # (The sanitizer build keeps its DWARF: the reports' stacks name lines
    # from it.)
    if(NOT QUILLBROOK_SANITIZE)
        add_custom_command(TARGET ${target} POST_BUILD
            COMMAND "${QUILLBROOK_OBJCOPY}" --strip-debug "$<TARGET_FILE:${target}>"
            VERBATIM)
    endif()
endfunction()
