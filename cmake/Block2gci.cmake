# Helpers shared by the per-folder CMakeLists.

# Warnings are set per target so that the flags never leak into the
# dependencies' headers or into code that includes ours.
function(block2gci_warnings target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                             -Wno-sign-conversion -Wformat=2)
  elseif(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  endif()
endfunction()

# block2gci_library(name SOURCES... DEPS...): one static library per folder.
function(block2gci_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  block2gci_warnings(${name})
endfunction()

# block2gci_test(name SOURCES... DEPS...): a GoogleTest executable whose
# cases are registered with CTest one by one.
function(block2gci_test name)
  if(NOT BLOCK2GCI_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main)
  block2gci_warnings(${name})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30)
endfunction()
