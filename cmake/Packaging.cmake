if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/WindowsPackage.cmake)
  set(CPACK_PACKAGE_NAME block2gci)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  include(CPack)
  return()
endif()

# Debian package: cpack -G DEB in the build directory. The runtime
# dependencies are found by dpkg-shlibdeps from the installed binary; the
# binary is stripped and the documentation is laid out as Debian's checker,
# lintian, expects (scripts/package-check runs it).
set(BLOCK2GCI_MAINTAINER "block2gci developers <block2gci-developers@example.org>")
set(CPACK_PACKAGE_NAME block2gci)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# The long description; CPack puts the summary above it as the synopsis and
# indents every line itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "block2gci reads a block file in XML (photogroups with image sizes, photos
with ids and image paths, control points with their ground position,
check-point flag and pixel measurements) and writes a GCI text file beside
it: every control point with its position and category, then its
measurements in image-centred coordinates, labelled with the image's base
name. It warns about values a block silently loses.")
set(CPACK_PACKAGE_CONTACT "${BLOCK2GCI_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

# The changelog and copyright files every Debian package carries.
include(GNUInstallDirs)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
block2gci_gzip(${PROJECT_BINARY_DIR}/debian/changelog ${PROJECT_BINARY_DIR}/debian/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/debian/changelog.gz ${CMAKE_CURRENT_LIST_DIR}/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
include(CPack)
