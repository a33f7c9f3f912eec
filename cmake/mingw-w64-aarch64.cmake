# Cross-build for Windows ARM64 (see mingw-w64-clang.cmake).
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(QUILLBROOK_TRIPLE aarch64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-clang.cmake)

# Test programs run under Wine for arm64 in qemu-user, in the run's arm64
# prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-arm64-exec)
set(QUILLBROOK_WINE_PREFIX_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-arm64-prefix)
set(QUILLBROOK_WINE_PREFIX_VARIABLE QUILLBROOK_ARM64_PREFIX)
