cmake_minimum_required(VERSION 3.20)
# Builds a package with wixl from a configured .wxs, in the folder where its
# files are staged, and finishes what wixl cannot express:
# - every custom action on quillbrook_cli.exe runs the package's Binary copy
#   of it (see binding.wxi), and the "Undo..." ones are rollback actions;
# - the File table carries the version of the files, so that Windows
#   Installer replaces an installed file of an older build;
# - the upgrade row includes the package's own version, so that another
#   package of the same version (the other architecture's, or a rebuild of
#   the same version) replaces an installed one instead of going beside it
#   (wixl ignores AllowSameVersionUpgrades).
# With ARM64_PLATFORM=ON, the summary's platform is then set to Arm64.
#     cmake -DWXS=... -DMSI=... -DSTAGE=... -DVERSION=1.0.0.93 -DWITH_X86=yes|no
#           -DWIXL=wixl -DMSIBUILD=msibuild -DMSIINFO=msiinfo [-DARM64_PLATFORM=ON] -P build_package.cmake
# Tests use it too, to build variants of the package from the same source.
get_filename_component(_include_dir "${CMAKE_CURRENT_LIST_FILE}" DIRECTORY)
execute_process(COMMAND "${WIXL}" -a x64 -I "${_include_dir}" -D "ProductVersion=${VERSION}" -D "WithX86=${WITH_X86}"
    -o "${MSI}" "${WXS}"
    WORKING_DIRECTORY "${STAGE}" COMMAND_ERROR_IS_FATAL ANY)

function(msi_query query)
    execute_process(COMMAND "${MSIBUILD}" "${MSI}" -q "${query}" RESULT_VARIABLE _result OUTPUT_QUIET ERROR_VARIABLE _error)
    if(NOT _result EQUAL 0 OR _error MATCHES "failed")
        message(FATAL_ERROR "${MSI}: ${query}: ${_error}")
    endif()
endfunction()
function(msi_table name out)
    execute_process(COMMAND "${MSIINFO}" export "${MSI}" ${name} OUTPUT_VARIABLE _text COMMAND_ERROR_IS_FATAL ANY)
    string(REPLACE "\r" "" _text "${_text}")
    string(REPLACE ";" "\\;" _text "${_text}")
    string(REPLACE "\n" ";" _rows "${_text}")
    # The first three lines are the column names, types and key.
    list(SUBLIST _rows 3 -1 _rows)
    set(${out} "${_rows}" PARENT_SCOPE)
endfunction()

# Custom action types: the base type 2 is an exe stored in the Binary table
# (18, wixl's, is an installed file); 0x30 the source bits, 0x100 rollback,
# 0x40 its result ignored.
msi_table(CustomAction _actions)
set(_binary_actions 0)
foreach(_row IN LISTS _actions)
    # Action, Type, Source, Target, ExtendedType
    if(NOT _row MATCHES "^([^\t]+)\t([0-9]+)\tquillbrook_cli[.]exe\t")
        continue()
    endif()
    set(_action "${CMAKE_MATCH_1}")
    set(_type "${CMAKE_MATCH_2}")
    math(EXPR _type "${_type} & ~0x30")
    if(_action MATCHES "^Undo")
        math(EXPR _type "${_type} | 0x140")
    endif()
    msi_query("UPDATE CustomAction SET Type = ${_type}, Source = 'QuillbrookCli' WHERE Action = '${_action}'")
    math(EXPR _binary_actions "${_binary_actions} + 1")
endforeach()
if(_binary_actions EQUAL 0)
    message(FATAL_ERROR "${MSI}: no custom action on quillbrook_cli.exe")
endif()

msi_query("UPDATE File SET Version = '${VERSION}'")

msi_table(Upgrade _upgrades)
foreach(_row IN LISTS _upgrades)
    # UpgradeCode, VersionMin, VersionMax, Language, Attributes, Remove, ActionProperty
    if(_row MATCHES "^([^\t]*)\t[^\t]*\t([^\t]*)\t[^\t]*\t([0-9]+)\t[^\t]*\tWIX_UPGRADE_DETECTED$")
        set(_code "${CMAKE_MATCH_1}")
        set(_max "${CMAKE_MATCH_2}")
        # msidbUpgradeAttributesVersionMaxInclusive (0x200); the attributes
        # are part of the row's key, so the row is written anew.
        math(EXPR _inclusive "${CMAKE_MATCH_3} | 0x200")
        msi_query("DELETE FROM Upgrade WHERE ActionProperty = 'WIX_UPGRADE_DETECTED'")
        msi_query("INSERT INTO Upgrade (UpgradeCode, VersionMax, Attributes, ActionProperty) VALUES ('${_code}', '${_max}', ${_inclusive}, 'WIX_UPGRADE_DETECTED')")
    endif()
endforeach()
if(NOT DEFINED _inclusive)
    message(FATAL_ERROR "${MSI}: no upgrade row")
endif()

if(ARM64_PLATFORM)
    include("${_include_dir}/set_arm64_platform.cmake")
endif()
