cmake_minimum_required(VERSION 3.20)
# Builds a package with wixl from a configured .wxs, in the folder where its
# files are staged, and finishes what wixl cannot express:
# - every custom action on quillbrook_cli.exe runs the package's Binary copy
#   of it (see binding.wxi), and the "Undo..." and "Settle..." ones are
#   rollback actions;
# - the File table carries the version and language of the program files,
#   so that Windows Installer replaces an installed file of an older build,
#   and none for the text files (ICE60: a versioned file must be a program
#   or a font);
# - the upgrade row includes the package's own version, so that another
#   package of the same version (the other architecture's, or a rebuild of
#   the same version) replaces an installed one instead of going beside it
#   (wixl ignores AllowSameVersionUpgrades).
# VERSION is the files' version, MAJOR.MINOR.PATCH.BUILD. Windows Installer
# compares only the first three fields of a product's version, so the
# package's ProductVersion is MAJOR.MINOR.BUILD: every build is then a
# version of its own to it, and an older build is refused over a newer one
# (the downgrade row) instead of replacing it. (The build number grows with
# every commit, PATCH included.)
# With ARM64_PLATFORM=ON, the summary's platform is then set to Arm64.
#     cmake -DWXS=... -DMSI=... -DSTAGE=... -DVERSION=1.0.0.93 -DWITH_X86=yes|no
#           -DWIXL=wixl -DMSIBUILD=msibuild -DMSIINFO=msiinfo [-DARM64_PLATFORM=ON] -P build_package.cmake
# Tests use it too, to build variants of the package from the same source.
get_filename_component(_include_dir "${CMAKE_CURRENT_LIST_FILE}" DIRECTORY)
if(NOT VERSION MATCHES "^([0-9]+)[.]([0-9]+)[.]([0-9]+)[.]([0-9]+)$")
    message(FATAL_ERROR "VERSION ${VERSION}: four fields expected, MAJOR.MINOR.PATCH.BUILD")
endif()
set(_product_version "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${CMAKE_MATCH_4}")
execute_process(COMMAND "${WIXL}" -a x64 -I "${_include_dir}" -D "ProductVersion=${_product_version}"
    -D "WithX86=${WITH_X86}"
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

# Custom action types: 0x100 rollback, 0x40 its result ignored; the base
# type 1 is a DLL stored in the Binary table, 2 an exe stored there (18,
# wixl's, is an installed file: tests' variants run the console program from
# a Binary copy of it, QuillbrookCli, which they add).
msi_table(CustomAction _actions)
set(_binding_actions 0)
foreach(_row IN LISTS _actions)
    # Action, Type, Source, Target, ExtendedType
    if(NOT _row MATCHES "^([^\t]+)\t([0-9]+)\t(QuillbrookActions|quillbrook_cli[.]exe)\t")
        continue()
    endif()
    set(_action "${CMAKE_MATCH_1}")
    set(_type "${CMAKE_MATCH_2}")
    set(_source "${CMAKE_MATCH_3}")
    if(_source STREQUAL "quillbrook_cli.exe")
        math(EXPR _type "${_type} & ~0x30")
        set(_source QuillbrookCli)
    else()
        math(EXPR _binding_actions "${_binding_actions} + 1")
    endif()
    if(_action MATCHES "^(Undo|Settle)")
        math(EXPR _type "${_type} | 0x140")
    endif()
    msi_query("UPDATE CustomAction SET Type = ${_type}, Source = '${_source}' WHERE Action = '${_action}'")
endforeach()
if(_binding_actions EQUAL 0)
    message(FATAL_ERROR "${MSI}: no custom action of quillbrook-actions.dll")
endif()

# The program files' version resources are in US English (1033).
msi_table(File _files)
set(_versioned 0)
foreach(_row IN LISTS _files)
    # File, Component_, FileName, FileSize, Version, Language, Attributes, Sequence
    if(_row MATCHES "^([^\t]+)\t[^\t]*\t[^\t]*[.](dll|exe)\t")
        msi_query("UPDATE File SET Version = '${VERSION}', Language = '1033' WHERE File = '${CMAKE_MATCH_1}'")
        math(EXPR _versioned "${_versioned} + 1")
    endif()
endforeach()
if(_versioned EQUAL 0)
    message(FATAL_ERROR "${MSI}: no program file in the File table")
endif()

# Every file and folder name as the Filename type has it (ICE03): a short
# 8.3 name, then "|" and the long name, which wixl leaves out. The short
# names are unique across the package, so unique within each folder.
set(_short_names "")
function(short_name long out)
    string(REGEX MATCH "[.]([^.]*)$" _extension "${long}")
    set(_extension "${CMAKE_MATCH_1}")
    string(REGEX REPLACE "[.][^.]*$" "" _stem "${long}")
    string(REGEX REPLACE "[^A-Za-z0-9_~!@#$%^&(){}'`-]" "" _stem "${_stem}")
    string(REGEX REPLACE "[^A-Za-z0-9_~!@#$%^&(){}'`-]" "" _extension "${_extension}")
    string(TOUPPER "${_stem}" _stem)
    string(TOUPPER "${_extension}" _extension)
    string(SUBSTRING "${_stem}" 0 6 _stem)
    string(SUBSTRING "${_extension}" 0 3 _extension)
    foreach(_n RANGE 1 9)
        set(_candidate "${_stem}~${_n}")
        if(_extension)
            set(_candidate "${_candidate}.${_extension}")
        endif()
        if(NOT _candidate IN_LIST _short_names)
            set(_short_names ${_short_names} "${_candidate}" PARENT_SCOPE)
            set(${out} "${_candidate}" PARENT_SCOPE)
            return()
        endif()
    endforeach()
    message(FATAL_ERROR "${MSI}: no short name left for ${long}")
endfunction()
function(is_short name out)
    set(_c "[A-Za-z0-9_~!@#$%^&(){}'`-]")
    set(_stem "${_c}${_c}?${_c}?${_c}?${_c}?${_c}?${_c}?${_c}?")
    if(name STREQUAL "." OR name MATCHES "^${_stem}([.]${_c}?${_c}?${_c}?)?$")
        set(${out} TRUE PARENT_SCOPE)
    else()
        set(${out} FALSE PARENT_SCOPE)
    endif()
endfunction()
msi_table(File _files)
foreach(_row IN LISTS _files)
    # File, Component_, FileName, ...
    if(_row MATCHES "^([^\t]+)\t[^\t]*\t([^\t|]+)\t")
        set(_file "${CMAKE_MATCH_1}")
        set(_long "${CMAKE_MATCH_2}")
        is_short("${_long}" _short_enough)
        if(NOT _short_enough)
            short_name("${_long}" _short)
            msi_query("UPDATE File SET FileName = '${_short}|${_long}' WHERE File = '${_file}'")
        endif()
    endif()
endforeach()
msi_table(Directory _directories)
foreach(_row IN LISTS _directories)
    # Directory, Directory_Parent, DefaultDir
    if(_row MATCHES "^([^\t]+)\t[^\t]*\t([^\t|:]+)$")
        set(_directory "${CMAKE_MATCH_1}")
        set(_long "${CMAKE_MATCH_2}")
        is_short("${_long}" _short_enough)
        if(NOT _short_enough AND NOT _long STREQUAL "SourceDir")
            short_name("${_long}" _short)
            msi_query("UPDATE Directory SET DefaultDir = '${_short}|${_long}' WHERE Directory = '${_directory}'")
        endif()
    endif()
endforeach()

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
