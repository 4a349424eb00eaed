# Helpers shared by the per-folder CMakeLists.

# Warnings are set per target so that the flags never leak into the
# dependencies' headers or into code that includes ours. BLOCK2GCI_WERROR
# (on in CI) makes every one of them an error.
function(block2gci_warnings target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                             -Wno-sign-conversion -Wformat=2)
    if(BLOCK2GCI_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
      if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND (BLOCK2GCI_SANITIZE OR BLOCK2GCI_FUZZ))
        # GCC's flow analysis sees the sanitizers' instrumentation and warns
        # of uninitialized members inside the standard library's templates
        # (std::regex, std::function); those stay warnings.
        target_compile_options(${target} PRIVATE -Wno-error=maybe-uninitialized)
      endif()
    endif()
  elseif(MSVC)
    target_compile_options(${target} PRIVATE /W4)
    if(BLOCK2GCI_WERROR)
      target_compile_options(${target} PRIVATE /WX)
    endif()
  endif()
endfunction()

# block2gci_gzip(in out): `out` is `in` compressed as Debian ships
# documentation (gzip -9, no name or time stamp, so the bytes are the same on
# every build); built with the tool.
function(block2gci_gzip in out)
  get_filename_component(name "${out}" NAME)
  add_custom_command(OUTPUT "${out}" COMMAND sh -c "gzip -9nc \"$1\" > \"$2\"" sh "${in}" "${out}"
                     DEPENDS "${in}" COMMENT "Compressing ${name}" VERBATIM)
  string(MAKE_C_IDENTIFIER "gzip_${name}" target)
  add_custom_target(${target} ALL DEPENDS "${out}")
endfunction()

# block2gci_library(name SOURCES... DEPS...): one static library per folder.
function(block2gci_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  block2gci_warnings(${name})
endfunction()

# block2gci_test(name SOURCES... DEPS... [LABEL label]): a GoogleTest
# executable whose cases are registered with CTest one by one, under one
# CTest label ("unit" when none is given). `ctest -L` takes a regular
# expression, so a suite that is both end-to-end and long is labelled
# "e2e-slow": `ctest -L unit` is the fast loop of module tests, `-L e2e`
# every suite that runs the executable, `-L slow` the long ones.
function(block2gci_test name)
  if(NOT BLOCK2GCI_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "LABEL" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_LABEL)
    set(ARG_LABEL unit)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main)
  block2gci_warnings(${name})
  if(CMAKE_CROSSCOMPILING)
    # Listed when ctest runs, under the emulator (Wine), rather than after
    # every link; Wine's first start in a fresh prefix takes a while.
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 300 DISCOVERY_MODE PRE_TEST PROPERTIES LABELS ${ARG_LABEL})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30 PROPERTIES LABELS ${ARG_LABEL})
  endif()
endfunction()

# Instruments every target of the project when BLOCK2GCI_SANITIZE or
# BLOCK2GCI_FUZZ is on. The sanitizers stop at the first report, so that a
# fault fails the test that caused it instead of scrolling past. Qt and
# pugixml come prebuilt and stay uninstrumented. Instrumented code sees
# BLOCK2GCI_ASAN=1, so that it can tell AddressSanitizer is in the process
# without each file sniffing the compiler's own macros.
function(block2gci_instrumentation)
  set(sanitizers "")
  if(BLOCK2GCI_SANITIZE OR BLOCK2GCI_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
      message(FATAL_ERROR "The sanitizer and fuzz builds need GCC or clang")
    endif()
    set(sanitizers "address,undefined")
  endif()
  if(BLOCK2GCI_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
      message(FATAL_ERROR "BLOCK2GCI_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
    endif()
    # The libraries get libFuzzer's coverage hooks; only fuzz_block links
    # libFuzzer itself (-fsanitize=fuzzer).
    set(sanitizers "fuzzer-no-link,${sanitizers}")
  endif()
  if(sanitizers)
    add_compile_options(-fsanitize=${sanitizers} -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=${sanitizers} -fno-sanitize-recover=all)
    add_compile_definitions(BLOCK2GCI_ASAN=1)
  endif()
endfunction()
