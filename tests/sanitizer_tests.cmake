# The tests of the sanitizer build (cmake/sanitizers.cmake): the module and
# libFLAC under AddressSanitizer and UBSan, fed the hostile-input suite
# (truncations and mutations through both classes, the thumbnail provider
# included), failing streams and commit sequences, and the fuzz targets,
# whose bounded runs start with a pass over the corpus of the layouts the
# tests build. Any report ends its process with exit code 1 and the report on
# stderr, which CTest shows: the test fails. Included by tests/CMakeLists.txt.

# The ASan runtime DLL beside every program and module of this build.
foreach(_dir "${CMAKE_BINARY_DIR}" "${CMAKE_BINARY_DIR}/tests" "${CMAKE_BINARY_DIR}/tests/fuzz")
    file(MAKE_DIRECTORY "${_dir}")
    configure_file("${QUILLBROOK_ASAN_RUNTIME}" "${_dir}/" COPYONLY)
endforeach()

include(${CMAKE_CURRENT_SOURCE_DIR}/robustness/support.cmake)
set(QUILLBROOK_TEST_TIMEOUT 900)
# Instrumented code runs a few times slower: the hostile input suite tries a
# share of the mutations (every cut of the metadata still).
target_compile_definitions(robustness_support PUBLIC QUILLBROOK_MUTATIONS_PER_BATCH=1000)
robustness_test(robustness_hostile_tests robustness/hostile_input_test.cpp)
robustness_test(robustness_failing_streams_tests robustness/failing_streams_test.cpp)
robustness_test(robustness_commit_sequence_tests robustness/commit_sequence_test.cpp)

add_subdirectory(fuzz)
