# Cross-build for Windows with clang-16 and lld-16, the mingw-w64 C runtime
# and a static libc++, all compiled with Control Flow Guard: the toolchain
# that scripts/toolchain builds into QUILLBROOK_DEPS/toolchain (QUILLBROOK_DEPS
# being the architecture's folder of the dependencies: .deps, .deps/x86 or
# .deps/arm64). The toolchain file of each architecture sets
# CMAKE_SYSTEM_PROCESSOR, the triple and how test programs run, then includes
# this one.
set(CMAKE_SYSTEM_NAME Windows)
if(NOT QUILLBROOK_DEPS)
    message(FATAL_ERROR "the toolchain needs -DQUILLBROOK_DEPS=DEPS (DEPS/x86, DEPS/arm64)")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUILLBROOK_DEPS)
set(_toolchain "${QUILLBROOK_DEPS}/toolchain")

set(CMAKE_C_COMPILER ${_toolchain}/bin/${QUILLBROOK_TRIPLE}-clang)
set(CMAKE_CXX_COMPILER ${_toolchain}/bin/${QUILLBROOK_TRIPLE}-clang++)
set(CMAKE_RC_COMPILER ${_toolchain}/bin/${QUILLBROOK_TRIPLE}-windres)
# llvm-windres preprocesses with the plain clang beside it, which does not
# know the toolchain's headers.
set(CMAKE_RC_FLAGS_INIT "-I ${_toolchain}/${QUILLBROOK_TRIPLE}/include")
set(CMAKE_AR /usr/bin/llvm-ar-16 CACHE FILEPATH "")
set(CMAKE_RANLIB /usr/bin/llvm-ranlib-16 CACHE FILEPATH "")
# mingw's own printf family rather than the C runtime's: the same output on
# Windows, and Wine for arm64, whose functions are built for Linux calling
# conventions, cannot take a va_list from Windows code.
set(CMAKE_C_FLAGS_INIT -D__USE_MINGW_ANSI_STDIO=1)
set(CMAKE_CXX_FLAGS_INIT -D__USE_MINGW_ANSI_STDIO=1)
include(${CMAKE_CURRENT_LIST_DIR}/codegen.cmake)

set(CMAKE_FIND_ROOT_PATH ${_toolchain}/${QUILLBROOK_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
