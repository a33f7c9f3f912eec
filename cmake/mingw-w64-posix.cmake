# Cross-build for Windows with clang-16 and lld-16 over Debian's mingw-w64 gcc
# runtime, posix-threads flavour (libstdc++ 12 with winpthreads; the win32
# flavour has no std::mutex): clang because gcc 12 and GNU ld cannot build
# Control Flow Guard or PDBs. The wrappers in cmake/clang-mingw give clang
# what it cannot find there by itself. The toolchain file of each
# architecture sets CMAKE_SYSTEM_PROCESSOR and the triple, then includes this
# one.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${CMAKE_CURRENT_LIST_DIR}/clang-mingw/${QUILLBROOK_TRIPLE}-clang)
set(CMAKE_CXX_COMPILER ${CMAKE_CURRENT_LIST_DIR}/clang-mingw/${QUILLBROOK_TRIPLE}-clang++)
set(CMAKE_RC_COMPILER ${QUILLBROOK_TRIPLE}-windres)
set(CMAKE_AR /usr/bin/llvm-ar-16 CACHE FILEPATH "")
set(CMAKE_RANLIB /usr/bin/llvm-ranlib-16 CACHE FILEPATH "")
include(${CMAKE_CURRENT_LIST_DIR}/codegen.cmake)

set(CMAKE_FIND_ROOT_PATH /usr/${QUILLBROOK_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine; the wrapper picks the run's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-exec)
