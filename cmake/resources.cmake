# Resources of quillbrook.dll. The module's identifiers live in
# resources/identifiers.h alone: each constant there is preceded by a comment
# with its registry form, which is read here to fill in the registry scripts
# and the type library source.
set(_identifiers "${CMAKE_SOURCE_DIR}/resources/identifiers.h")
set_property(DIRECTORY "${CMAKE_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_identifiers}")
file(READ "${_identifiers}" _text)
foreach(_name CLSID_PropertyHandler CLSID_ThumbnailProvider LIBID_QuillbrookLib APPID_Quillbrook)
    if(NOT _text MATCHES "// (\\{[0-9A-F-]+\\})\n[^\n]* ${_name} =")
        message(FATAL_ERROR "${_identifiers}: no registry-form comment above ${_name}")
    endif()
    set(${_name} "${CMAKE_MATCH_1}")
    string(REGEX REPLACE "[{}]" "" ${_name}_UUID "${CMAKE_MATCH_1}")
endforeach()

set(QUILLBROOK_RESOURCES "${CMAKE_BINARY_DIR}/resources")
# Registry scripts: ASCII, tabs, CR LF, no byte-order mark, no final null.
foreach(_script appid property_handler thumbnail_provider)
    configure_file("${CMAKE_SOURCE_DIR}/resources/${_script}.rgs.in" "${QUILLBROOK_RESOURCES}/${_script}.rgs"
        @ONLY NEWLINE_STYLE CRLF)
endforeach()
configure_file("${CMAKE_SOURCE_DIR}/resources/quillbrook.idl.in" "${QUILLBROOK_RESOURCES}/quillbrook.idl" @ONLY)

find_program(QUILLBROOK_WIDL NAMES x86_64-w64-mingw32-widl widl REQUIRED)
find_path(QUILLBROOK_STDOLE_DIR stdole2.tlb
    PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_path(QUILLBROOK_WINE_IDL_DIR oaidl.idl PATHS /usr/include/wine/wine/windows
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
# widl writes the date and time of the build into the type library, and
# ignores SOURCE_DATE_EPOCH: it runs on a fixed clock, so that two builds of
# one commit give the same bytes.
find_program(QUILLBROOK_FAKETIME faketime REQUIRED)
add_custom_command(
    OUTPUT "${QUILLBROOK_RESOURCES}/quillbrook.tlb"
    COMMAND "${QUILLBROOK_FAKETIME}" -f "2000-01-01 00:00:00" "${QUILLBROOK_WIDL}" $<IF:$<EQUAL:${CMAKE_SIZEOF_VOID_P},8>,-m64,-m32> -t -I "${QUILLBROOK_WINE_IDL_DIR}" -L "${QUILLBROOK_STDOLE_DIR}"
        -o "${QUILLBROOK_RESOURCES}/quillbrook.tlb" "${QUILLBROOK_RESOURCES}/quillbrook.idl"
    DEPENDS "${QUILLBROOK_RESOURCES}/quillbrook.idl"
    COMMENT "Building the type library QuillbrookLib")

set_source_files_properties("${CMAKE_SOURCE_DIR}/resources/quillbrook.rc" PROPERTIES
    OBJECT_DEPENDS "${QUILLBROOK_RESOURCES}/quillbrook.tlb;${QUILLBROOK_RESOURCES}/appid.rgs;${QUILLBROOK_RESOURCES}/property_handler.rgs;${QUILLBROOK_RESOURCES}/thumbnail_provider.rgs;${CMAKE_SOURCE_DIR}/resources/quillbrook.manifest")
