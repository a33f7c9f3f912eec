# Sets the platform of the package MSI (built by wixl as x64) to Arm64 in its
# summary information, keeping the rest of it: msibuild -s rewrites the
# subject, author, platform and package code together, so the other three are
# read back first.
#     cmake -DMSI=... -DMSIBUILD=msibuild -DMSIINFO=msiinfo -P set_arm64_platform.cmake
function(summary_field text name out)
    if(NOT text MATCHES "(^|\n)${name}: ([^\n]*)")
        message(FATAL_ERROR "${MSI}: no ${name} in its summary information")
    endif()
    set(${out} "${CMAKE_MATCH_2}" PARENT_SCOPE)
endfunction()

execute_process(COMMAND "${MSIINFO}" suminfo "${MSI}" OUTPUT_VARIABLE _summary COMMAND_ERROR_IS_FATAL ANY)
summary_field("${_summary}" "Subject" _subject)
summary_field("${_summary}" "Author" _author)
summary_field("${_summary}" "Revision number \\(UUID\\)" _package_code)
summary_field("${_summary}" "Template" _template)
string(REGEX REPLACE "^[^;]+;" "Arm64;" _template "${_template}")
execute_process(COMMAND "${MSIBUILD}" "${MSI}" -s "${_subject}" "${_author}" "${_template}" "${_package_code}"
    COMMAND_ERROR_IS_FATAL ANY)

execute_process(COMMAND "${MSIINFO}" suminfo "${MSI}" OUTPUT_VARIABLE _summary COMMAND_ERROR_IS_FATAL ANY)
summary_field("${_summary}" "Template" _written)
summary_field("${_summary}" "Subject" _written_subject)
if(NOT _written STREQUAL _template OR NOT _written_subject STREQUAL _subject)
    message(FATAL_ERROR "${MSI}: the platform is ${_written}, the subject ${_written_subject}")
endif()
