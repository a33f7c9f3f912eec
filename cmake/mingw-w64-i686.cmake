# Cross-build for 32-bit Windows (x86; see mingw-w64-clang.cmake).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUILLBROOK_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-clang.cmake)

# Test programs run under Wine (its 32-bit side); the wrapper picks the run's
# own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-exec)
