# The x64 toolchain with AddressSanitizer and UBSan, for the sanitizer build
# of the module and its tests and for the instrumented libFLAC under it
# (scripts/sanitizer-runtimes builds the runtimes into
# QUILLBROOK_SANITIZER_RUNTIMES): every load and store checked, any report
# fatal (-fno-sanitize-recover=all), libc++'s bounds assertions on
# (_LIBCPP_DEBUG=0: headers only, the static libc++ is unchanged), Control
# Flow Guard kept. Programs and modules import
# libclang_rt.asan_dynamic-x86_64.dll, which the build stages beside them.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake)
if(NOT QUILLBROOK_SANITIZER_RUNTIMES)
    message(FATAL_ERROR "the sanitizer toolchain needs -DQUILLBROOK_SANITIZER_RUNTIMES=DIR (scripts/sanitizer-runtimes)")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUILLBROOK_SANITIZER_RUNTIMES)
set(QUILLBROOK_SANITIZE ON)
# The resource directory with the sanitizer runtimes; the last one given
# wins over the toolchain driver's own.
set(_sanitize "-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer")
# Without UBSan's vptr check: it needs the run-time type of every object a
# call goes to, and COM objects of other modules (Windows' own streams, the
# photo provider) have none this program knows, so every call on them would
# be reported.
set(_sanitize "${_sanitize} -fno-sanitize=vptr")
# (DWARF 4: the version Wine's dbghelp reads, for the reports' line numbers.)
set(_sanitize "${_sanitize} -gdwarf-4")
set(_sanitize "${_sanitize} -resource-dir=${QUILLBROOK_SANITIZER_RUNTIMES}/resource")
# libFuzzer's coverage, for a build whose code only fuzz programs link (the
# instrumented libFLAC of the fuzz targets); the project's fuzz targets add
# it to their own copies of the code (tests/fuzz).
set(QUILLBROOK_FUZZ_COVERAGE_FLAGS -fsanitize-coverage=inline-8bit-counters,indirect-calls,trace-cmp,pc-table)
if(QUILLBROOK_FUZZ_COVERAGE)
    list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUILLBROOK_FUZZ_COVERAGE)
    set(_sanitize "${_sanitize} ${QUILLBROOK_FUZZ_COVERAGE_FLAGS}")
endif()
if(NOT CMAKE_C_FLAGS_INIT MATCHES "-fsanitize=")
    set(CMAKE_C_FLAGS_INIT "${CMAKE_C_FLAGS_INIT} ${_sanitize}")
    set(CMAKE_CXX_FLAGS_INIT "${CMAKE_CXX_FLAGS_INIT} ${_sanitize} -D_LIBCPP_DEBUG=0")
    foreach(_kind EXE SHARED MODULE)
        set(CMAKE_${_kind}_LINKER_FLAGS_INIT "${_sanitize}")
    endforeach()
endif()
set(QUILLBROOK_ASAN_RUNTIME "${QUILLBROOK_SANITIZER_RUNTIMES}/resource/lib/windows/libclang_rt.asan_dynamic-x86_64.dll")
