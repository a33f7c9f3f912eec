# Cross-build for 64-bit Windows (x64; see mingw-w64-clang.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUILLBROOK_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-clang.cmake)

# Test programs run under Wine; the wrapper picks the run's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-exec)
