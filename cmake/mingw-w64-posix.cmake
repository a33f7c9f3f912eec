# Cross-build for Windows with the posix-threads flavour of mingw-w64 (the
# win32 flavour has no std::mutex). The toolchain file of each architecture
# sets CMAKE_SYSTEM_PROCESSOR and the triple, then includes this one.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${QUILLBROOK_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLBROOK_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLBROOK_TRIPLE}-windres)
set(CMAKE_AR ${QUILLBROOK_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${QUILLBROOK_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${QUILLBROOK_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine; the wrapper picks the run's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-exec)
