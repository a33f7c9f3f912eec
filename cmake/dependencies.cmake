# The toolchain, reached from the build tree through a link (see
# quillbrook_shipped in cmake/hardening.cmake).
set(QUILLBROOK_TOOLCHAIN_LINK "${CMAKE_BINARY_DIR}/toolchain")
file(CREATE_LINK "${QUILLBROOK_DEPS}/toolchain" "${QUILLBROOK_TOOLCHAIN_LINK}" SYMBOLIC)
# Static libFLAC and GoogleTest, built by scripts/setup with this toolchain.
# (The sanitizer build's is instrumented: scripts/sanitizer-runtimes.)
if(QUILLBROOK_SANITIZE)
    set(_flac "${QUILLBROOK_SANITIZER_RUNTIMES}/libflac")
else()
    set(_flac "${QUILLBROOK_DEPS}/libflac")
endif()
if(NOT EXISTS "${_flac}/lib/libFLAC.a")
    message(FATAL_ERROR "libFLAC not found under ${_flac}: run scripts/setup")
endif()
# The links take libFLAC from a copy inside the build tree, named by a path
# relative to it: lld writes the paths of its inputs into the PDB, whose hash
# (the GUID) the module carries, so a path outside the build tree would make
# the module's bytes depend on where the dependencies are.
configure_file("${_flac}/lib/libFLAC.a" "${CMAKE_BINARY_DIR}/deps/libFLAC.a" COPYONLY)
add_library(FLAC::static STATIC IMPORTED GLOBAL)
set_target_properties(FLAC::static PROPERTIES
    IMPORTED_LOCATION "${CMAKE_BINARY_DIR}/deps/libFLAC.a"
    INTERFACE_INCLUDE_DIRECTORIES "${_flac}/include"
    INTERFACE_COMPILE_DEFINITIONS FLAC__NO_DLL
    INTERFACE_LINK_LIBRARIES ssp)

set(_gtest "${QUILLBROOK_DEPS}/googletest")
add_library(GTest::gtest STATIC IMPORTED GLOBAL)
set_target_properties(GTest::gtest PROPERTIES
    IMPORTED_LOCATION "${_gtest}/lib/libgtest.a"
    INTERFACE_INCLUDE_DIRECTORIES "${_gtest}/include")
add_library(GTest::gmock STATIC IMPORTED GLOBAL)
set_target_properties(GTest::gmock PROPERTIES
    IMPORTED_LOCATION "${_gtest}/lib/libgmock.a"
    INTERFACE_LINK_LIBRARIES GTest::gtest)
