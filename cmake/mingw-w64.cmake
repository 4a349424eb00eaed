# Cross-builds for 64-bit Windows with Debian's MinGW-w64 (posix thread
# model, which has std::thread). Libraries and packages are searched only in
# the MinGW sysroot and in the prefixes named by BLOCK2GCI_WINDOWS_DEPS (a
# CMake list, taken from the environment when not set), so that no Linux
# library is ever picked up. Test programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)
if(NOT DEFINED BLOCK2GCI_WINDOWS_DEPS AND DEFINED ENV{BLOCK2GCI_WINDOWS_DEPS})
  set(BLOCK2GCI_WINDOWS_DEPS "$ENV{BLOCK2GCI_WINDOWS_DEPS}")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${_triple} ${BLOCK2GCI_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
