# The Windows zip: block2gci.exe with the DLLs it needs beside it, a README
# in text form and the licence notices of the bundled parts. Stripped copies
# of the same DLLs are put next to every program of the build (all of them
# are written to the top of the build tree), so that the tests run under Wine
# exactly as the user's copy runs on Windows.

set(_runtime_dir ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})

# The MinGW runtime DLLs of the compiler that built the tool (the posix
# thread model's own copies) and Qt's core DLL.
set(_dlls "")
foreach(_name libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_name}
                  OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${_path}" OR NOT EXISTS "${_path}")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know where ${_name} is")
  endif()
  list(APPEND _dlls "${_path}")
endforeach()
get_target_property(_qt_core Qt5::Core IMPORTED_LOCATION_RELEASE)
if(NOT _qt_core)
  get_target_property(_qt_core Qt5::Core LOCATION)
endif()
list(APPEND _dlls "${_qt_core}")

set(_staged "")
foreach(_dll IN LISTS _dlls)
  get_filename_component(_name "${_dll}" NAME)
  add_custom_command(OUTPUT ${_runtime_dir}/${_name}
                     COMMAND ${CMAKE_STRIP} --strip-unneeded -o ${_runtime_dir}/${_name} ${_dll}
                     DEPENDS ${_dll} COMMENT "Stripping ${_name} into the build tree" VERBATIM)
  list(APPEND _staged ${_runtime_dir}/${_name})
endforeach()
add_custom_target(block2gci_runtime_dlls ALL DEPENDS ${_staged})
install(FILES ${_staged} DESTINATION .)

# block2gci_windows_text(from to [CONFIGURE]): `to` is the text file `from`
# as Notepad shows it right on every Windows: every line ends with CR LF, and
# a text that is not pure ASCII (it is UTF-8 then) starts with a byte-order
# mark, without which an older Notepad takes it for the ANSI code page.
# CONFIGURE replaces @VARIABLE@ references first. Written when CMake
# configures; a change of `from` configures again.
function(block2gci_windows_text from to)
  cmake_parse_arguments(ARG "CONFIGURE" "" "" ${ARGN})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${from}")
  file(READ "${from}" text)
  if(ARG_CONFIGURE)
    string(CONFIGURE "${text}" text @ONLY)
  endif()
  block2gci_write_windows_text("${text}" "${to}")
endfunction()

# block2gci_write_windows_text(text to): writes `text` to `to` as
# block2gci_windows_text() does.
function(block2gci_write_windows_text text to)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  string(ASCII 239 187 191 bom)
  string(FIND "${text}" "${bom}" bom_at)
  string(REGEX REPLACE "[\t\r\n -~]" "" beyond_ascii "${text}")
  if(NOT beyond_ascii STREQUAL "" AND NOT bom_at EQUAL 0)
    string(PREPEND text "${bom}")
  endif()
  file(WRITE "${to}" "${text}")
endfunction()

# Licence notices. The texts come from the Debian packages the parts were
# built from; NOTICE.txt says which applies to what and where Qt's source is.
set(BLOCK2GCI_QT_SOURCE_VERSION "" CACHE STRING "Version of Debian's qtbase-opensource-src that Qt5Core.dll was built from")
set(BLOCK2GCI_PUGIXML_SOURCE_VERSION "" CACHE STRING "Version of Debian's pugixml source package that was linked in")

# The parts of other projects that Qt5Core.dll carries, as scripts/windows-deps
# collected them beside the Qt it built (cmake/QtNotices.cmake): each licence
# text goes into licenses\, and NOTICE.txt names each part with its file.
get_filename_component(_qt_notices "${_qt_core}/../../notices" ABSOLUTE)
if(NOT EXISTS "${_qt_notices}/bundled.txt")
  message(FATAL_ERROR "${_qt_notices}/bundled.txt is missing: run scripts/windows-deps")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_qt_notices}/bundled.txt")
file(STRINGS "${_qt_notices}/bundled.txt" _bundled)
set(BLOCK2GCI_QT_BUNDLED "")
foreach(_part IN LISTS _bundled)
  string(REPLACE "\t" ";" _part "${_part}")
  list(GET _part 0 _file)
  list(GET _part 1 _name)
  list(GET _part 2 _license)
  string(APPEND BLOCK2GCI_QT_BUNDLED "  ${_name}\n    ${_license}: licenses\\${_file}\n")
  block2gci_windows_text("${_qt_notices}/licenses/${_file}" ${PROJECT_BINARY_DIR}/package/licenses/${_file})
  install(FILES ${PROJECT_BINARY_DIR}/package/licenses/${_file} DESTINATION licenses)
endforeach()
string(REGEX REPLACE "\n$" "" BLOCK2GCI_QT_BUNDLED "${BLOCK2GCI_QT_BUNDLED}")
block2gci_windows_text(${PROJECT_SOURCE_DIR}/docs/windows/NOTICE.txt.in ${PROJECT_BINARY_DIR}/package/NOTICE.txt CONFIGURE)
block2gci_windows_text(${PROJECT_SOURCE_DIR}/docs/windows/README.txt.in ${PROJECT_BINARY_DIR}/package/README.txt CONFIGURE)
# What each log line means, for the help's pointer to it: made from the
# catalogue as plain text, with the Windows meanings.
include(${PROJECT_SOURCE_DIR}/cmake/LogLines.cmake)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${BLOCK2GCI_LOG_LINES_DEF}
  ${PROJECT_SOURCE_DIR}/docs/windows/LOG-LINES.txt.in)
block2gci_log_lines_windows_text(_log_lines)
block2gci_write_windows_text("${_log_lines}" ${PROJECT_BINARY_DIR}/package/LOG-LINES.txt)
install(FILES ${PROJECT_BINARY_DIR}/package/README.txt ${PROJECT_BINARY_DIR}/package/NOTICE.txt
  ${PROJECT_BINARY_DIR}/package/LOG-LINES.txt DESTINATION .)
foreach(_pair
    "/usr/share/common-licenses/LGPL-3|Qt-LGPL-3.0.txt"
    "/usr/share/common-licenses/GPL-3|Qt-GPL-3.0.txt"
    "/usr/share/doc/libpugixml-dev/copyright|pugixml-MIT.txt"
    "/usr/share/doc/g++-mingw-w64-x86-64-posix/copyright|GCC-runtime-library-exception.txt"
    "/usr/share/doc/mingw-w64-common/copyright|mingw-w64-runtime.txt")
  string(REPLACE "|" ";" _pair "${_pair}")
  list(GET _pair 0 _from)
  list(GET _pair 1 _to)
  if(NOT EXISTS "${_from}")
    message(FATAL_ERROR "The licence text ${_from} is missing")
  endif()
  block2gci_windows_text("${_from}" ${PROJECT_BINARY_DIR}/package/licenses/${_to})
  install(FILES ${PROJECT_BINARY_DIR}/package/licenses/${_to} DESTINATION licenses)
endforeach()

# Everything in one folder named as the zip, block2gci-VERSION-win64, as
# command-line tools ship on Windows: unpacked into Downloads, the zip adds
# one folder there.
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME "block2gci-${PROJECT_VERSION}-win64")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
