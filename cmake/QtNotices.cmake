# The parts of other projects that a Qt 5 Core build carries, and their
# licence texts, as the build's own configuration and Qt's attribution files
# (qt_attribution.json) say (run by scripts/windows-deps):
#   cmake -DQT_SOURCE=DIR -DQT_PREFIX=DIR -DOUT=DIR [-DQT_BUILD=DIR] -P cmake/QtNotices.cmake
# QT_SOURCE is Debian's qtbase source tree (unpacked), QT_PREFIX the
# installed Qt that was built from it, whose mkspecs name the features it was
# configured with. Writes OUT/bundled.txt, one part per line: the licence
# file's name, the part's name and its licence, separated by tabs; and each
# licence file into OUT/licenses: the part's name, copyright and licence,
# then the licence text from the source tree (a part in the public domain has
# its statement instead).
#
# Given QT_BUILD, the build tree right after the build, the third-party
# folders whose sources Qt Core's make file compiled must each have a part
# chosen here.
#
# Every attribution file of Qt Core's sources and of the third-party folder
# needs a rule below, so that a Qt with a new bundled part stops here until
# someone has decided about it.

cmake_minimum_required(VERSION 3.19)

foreach(var QT_SOURCE QT_PREFIX OUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "QtNotices.cmake: ${var} is not set")
  endif()
endforeach()

# The features the build was configured with, from the installed mkspecs.
set(features "")
foreach(pair "modules/qt_lib_core.pri|QT.core.enabled_features"
             "modules/qt_lib_core_private.pri|QT.core_private.enabled_features"
             "qconfig.pri|QT.global.enabled_features" "qmodule.pri|QT.global_private.enabled_features")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 file)
  list(GET pair 1 key)
  if(NOT EXISTS "${QT_PREFIX}/mkspecs/${file}")
    message(FATAL_ERROR "QtNotices.cmake: ${QT_PREFIX}/mkspecs/${file} is missing")
  endif()
  file(STRINGS "${QT_PREFIX}/mkspecs/${file}" lines REGEX "^${key} =")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[^=]*= *" "" line "${line}")
    string(REPLACE " " ";" line "${line}")
    list(APPEND features ${line})
  endforeach()
endforeach()
if(NOT "regularexpression" IN_LIST features)
  message(FATAL_ERROR "QtNotices.cmake: no features read from ${QT_PREFIX}/mkspecs")
endif()

# When each attribution's code is in a Windows build of QtCore: "always",
# "never" (another module or platform), or features that must all be on
# ("!feature": off). Keyed by the attribution file's folder and the Id.
set(rules
  "3rdparty/double-conversion|doubleconversion|doubleconversion !system-doubleconversion"
  "3rdparty/easing|easing|easingcurve"
  "3rdparty/freebsd|freebsd|always"
  # The old HarfBuzz is compiled into Qt Core (text/text.pri), whatever the
  # attribution's "Used in Qt GUI" says.
  "3rdparty/harfbuzz|harfbuzz|always"
  "3rdparty/md4|md4|always"
  "3rdparty/md5|md5|always"
  "3rdparty/pcre2|pcre2|regularexpression !system-pcre2"
  # Its just-in-time compiler is built on x86 and x86-64.
  "3rdparty/pcre2|pcre2-sljit|regularexpression !system-pcre2"
  "3rdparty/rfc6234|rfc6234|always"
  "3rdparty/sha1|sha1|always"
  "3rdparty/sha3|sha3_endian|always"
  "3rdparty/sha3|sha3_keccak|always"
  "3rdparty/tinycbor|tinycbor|cborstreamreader"
  "3rdparty/zlib|zlib|!system-zlib"
  "corelib/codecs|qtsciicodec|codecs"
  "corelib/codecs|qbig5codecs|big_codecs !icu"
  "corelib/codecs|qeucjpcodec|big_codecs !icu"
  "corelib/codecs|qeuckrcodec|big_codecs !icu"
  "corelib/codecs|qjiscodec|big_codecs !icu"
  "corelib/codecs|qsjiscodec|big_codecs !icu"
  "corelib/codecs|qbkcodec|big_codecs !icu"
  "corelib/io|psl|always"
  "corelib/text|unicode-character-database|always"
  "corelib/text|unicode-cldr|always"
  # Unix and macOS only.
  "3rdparty/forkfd|forkfd|never"
  "corelib/kernel|qeventdispatcher_cf|never"
  # Other modules, plugins and platforms.
  "3rdparty/VulkanMemoryAllocator|VulkanMemoryAllocator|never"
  "3rdparty/android|android-native-style|never"
  "3rdparty/angle|*|never"
  "3rdparty/freetype|*|never"
  "3rdparty/gradle|android-gradle-wrapper|never"
  "3rdparty/harfbuzz-ng|harfbuzz-ng|never"
  "3rdparty/icc|icc-sRGB-color-profile|never"
  "3rdparty/libjpeg|libjpeg|never"
  "3rdparty/libpng|libpng|never"
  "3rdparty/md4c|md4c|never"
  "3rdparty/pixman|pixman|never"
  "3rdparty/wasm|*|never"
  "3rdparty/xcb|xcb-xinput|never")

# rule_for(var folder id): the condition of the rule for `id` in `folder`,
# or "" when there is none.
function(rule_for var folder id)
  set(found "")
  foreach(rule IN LISTS rules)
    string(REPLACE "|" ";" rule "${rule}")
    list(GET rule 0 rule_folder)
    list(GET rule 1 rule_id)
    list(GET rule 2 condition)
    if(rule_folder STREQUAL folder AND (rule_id STREQUAL id OR rule_id STREQUAL "*"))
      set(found "${condition}")
      break()
    endif()
  endforeach()
  set(${var} "${found}" PARENT_SCOPE)
endfunction()

function(holds var condition)
  set(result ON)
  if(condition STREQUAL "never")
    set(result OFF)
  elseif(NOT condition STREQUAL "always")
    string(REPLACE " " ";" terms "${condition}")
    foreach(term IN LISTS terms)
      if(term MATCHES "^!(.*)$")
        if(CMAKE_MATCH_1 IN_LIST features)
          set(result OFF)
        endif()
      elseif(NOT term IN_LIST features)
        set(result OFF)
      endif()
    endforeach()
  endif()
  set(${var} ${result} PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}/licenses")
set(bundled "")
set(chosen_folders "")
file(GLOB_RECURSE attributions RELATIVE "${QT_SOURCE}/src" "${QT_SOURCE}/src/3rdparty/*/qt_attribution.json"
     "${QT_SOURCE}/src/corelib/*/qt_attribution.json")
list(SORT attributions)
foreach(attribution IN LISTS attributions)
  get_filename_component(folder "${attribution}" DIRECTORY)
  file(READ "${QT_SOURCE}/src/${attribution}" json)
  string(JSON type TYPE "${json}")
  set(count 1)
  if(type STREQUAL "ARRAY")
    string(JSON count LENGTH "${json}")
  endif()
  math(EXPR last "${count} - 1")
  foreach(index RANGE ${last})
    set(entry "${json}")
    if(type STREQUAL "ARRAY")
      string(JSON entry GET "${json}" ${index})
    endif()
    string(JSON id GET "${entry}" Id)
    rule_for(condition "${folder}" "${id}")
    if(condition STREQUAL "")
      message(FATAL_ERROR "QtNotices.cmake: no rule says whether ${id} (src/${attribution}) is in Qt Core: "
                          "add one to cmake/QtNotices.cmake")
    endif()
    holds(included "${condition}")
    if(NOT included)
      continue()
    endif()
    string(JSON name GET "${entry}" Name)
    string(JSON license GET "${entry}" License)
    string(JSON copyright ERROR_VARIABLE no_copyright GET "${entry}" Copyright)
    string(JSON license_file ERROR_VARIABLE no_license_file GET "${entry}" LicenseFile)
    set(text "${name}, in Qt5Core.dll\n")
    if(NOT no_copyright)
      string(APPEND text "${copyright}\n")
    endif()
    string(APPEND text "License: ${license}\n")
    if(NOT no_license_file)
      file(READ "${QT_SOURCE}/src/${folder}/${license_file}" license_text)
      string(APPEND text "\n${license_text}")
    endif()
    set(out_name "Qt5Core-${id}.txt")
    file(WRITE "${OUT}/licenses/${out_name}" "${text}")
    string(APPEND bundled "${out_name}\t${name}\t${license}\n")
    list(APPEND chosen_folders "${folder}")
  endforeach()
endforeach()
if(DEFINED QT_BUILD)
  file(STRINGS "${QT_BUILD}/src/corelib/Makefile.Release" compiled REGEX "3rdparty/")
  string(REGEX MATCHALL "3rdparty/[A-Za-z0-9_.-]+/" compiled "${compiled}")
  list(REMOVE_DUPLICATES compiled)
  foreach(folder IN LISTS compiled)
    string(REGEX REPLACE "/$" "" folder "${folder}")
    if(NOT folder IN_LIST chosen_folders)
      message(FATAL_ERROR "QtNotices.cmake: Qt Core compiles sources of src/${folder}, but no part of it is chosen")
    endif()
  endforeach()
endif()
if(bundled STREQUAL "")
  message(FATAL_ERROR "QtNotices.cmake: no attribution found in ${QT_SOURCE}/src")
endif()
file(WRITE "${OUT}/bundled.txt" "${bundled}")
