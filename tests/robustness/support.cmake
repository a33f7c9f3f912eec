# What the robustness tests share: their figures' folder, emptied before the
# run and summed up after it, the support library and how a robustness test
# is declared (included
# by tests/CMakeLists.txt and tests/sanitizer_tests.cmake).
set(QUILLBROOK_ROBUSTNESS_DIR "${CMAKE_BINARY_DIR}/robustness")
add_test(NAME ${P}robustness_reset COMMAND ${CMAKE_COMMAND} -E rm -rf "${QUILLBROOK_ROBUSTNESS_DIR}")
set_tests_properties(${P}robustness_reset PROPERTIES FIXTURES_SETUP ${reference_files})
add_library(robustness_support STATIC
    robustness/case_monitor.cpp
    robustness/figures.cpp
    robustness/memory_counters.cpp
    robustness/varied_fixtures.cpp
    robustness/mutations.cpp
    robustness/exercise.cpp
    thumbnail/recording_photo_provider.cpp
)
target_link_libraries(robustness_support PUBLIC test_support)
target_compile_definitions(robustness_support PUBLIC QUILLBROOK_ROBUSTNESS_DIR="${QUILLBROOK_ROBUSTNESS_DIR}")
target_compile_options(robustness_support PRIVATE ${QUILLBROOK_NO_STRINGOP_OVERFLOW})
function(robustness_test name)
    quillbrook_test(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE robustness_support)
endfunction()
# The summary runs after every test that needs the reference files.
add_test(NAME ${P}robustness_summary
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/robustness/summary.sh ${QUILLBROOK_ROBUSTNESS_DIR})
set_tests_properties(${P}robustness_summary PROPERTIES FIXTURES_CLEANUP ${reference_files})
