# Code generation that every build with these toolchains shares, the static
# dependencies that scripts/setup builds included (included by the toolchain
# files):
# - Control Flow Guard (-mguard=cf): every indirect call is checked against
#   the image's table of valid targets. It covers only code compiled with it,
#   so libFLAC is built with it too, and so are the runtimes of the
#   toolchain (scripts/toolchain).
# - Debug information for Windows debuggers (CodeView, into a PDB at link
#   time; cmake/hardening.cmake), without the compiler's command line.
# - No path of this machine in the output: the repository, the dependency
#   folder and the build tree are written under fixed names, so that two
#   builds of one commit in different folders give the same bytes.
set(QUILLBROOK_CODEGEN_FLAGS "-mguard=cf -g -gcodeview -gno-codeview-command-line")
get_filename_component(_quillbrook_repository "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(_quillbrook_prefix_maps "${_quillbrook_repository}=/quillbrook" "${CMAKE_BINARY_DIR}=/quillbrook-build")
if(QUILLBROOK_DEPS)
    # DEPS, DEPS/x86 or DEPS/arm64: the sources under DEPS/src are shared.
    string(REGEX REPLACE "/(x86|arm64)/?$" "" _quillbrook_deps_root "${QUILLBROOK_DEPS}")
    list(APPEND _quillbrook_prefix_maps "${_quillbrook_deps_root}=/quillbrook-deps")
endif()
foreach(_map IN LISTS _quillbrook_prefix_maps)
    string(APPEND QUILLBROOK_CODEGEN_FLAGS " -ffile-prefix-map=${_map}")
endforeach()
# (CMake reads the toolchain file more than once.)
if(NOT CMAKE_C_FLAGS_INIT MATCHES "-mguard=cf")
    set(CMAKE_C_FLAGS_INIT "${CMAKE_C_FLAGS_INIT} ${QUILLBROOK_CODEGEN_FLAGS}")
    set(CMAKE_CXX_FLAGS_INIT "${CMAKE_CXX_FLAGS_INIT} ${QUILLBROOK_CODEGEN_FLAGS}")
endif()
