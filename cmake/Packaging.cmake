# Debian packages from the build tree (cpack -G DEB, see scripts/package):
# one package per install COMPONENT.
#   library      libkestrix1       the shared library
#   development  libkestrix-dev    header, pkg-config file, CMake package
#   kestrix      kestrix           the tool, its manual page and completions
#   folvane      folvane           the desktop program, its menu entry and icons
#   python       python3-kestrix   the Python module (when it is built)
# Versions come from project(VERSION); dpkg-shlibdeps finds the other
# libraries' packages.
set(KX_PACKAGE_MAINTAINER "Kestrix developers <kestrix@example.org>" CACHE STRING
  "The Maintainer field of the Debian packages")
set(KX_PACKAGE_RELEASE 1)
set(KX_PACKAGE_VERSION "${PROJECT_VERSION}-${KX_PACKAGE_RELEASE}")

# Every package carries the copyright file and the changelog, as Debian asks.
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog.Debian @ONLY)
execute_process(COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/packaging/changelog.Debian COMMAND_ERROR_IS_FATAL ANY)

set(kx_packages library libkestrix1 development libkestrix-dev kestrix kestrix folvane folvane
  python python3-kestrix)
get_cmake_property(kx_used_components COMPONENTS)
if("Unspecified" IN_LIST kx_used_components)
  message(WARNING "Some install() rule names no COMPONENT; its files are in no Debian package")
endif()
set(CPACK_COMPONENTS_ALL "")
while(kx_packages)
  list(POP_FRONT kx_packages component package)
  if(NOT component IN_LIST kx_used_components)
    continue()
  endif()
  list(APPEND CPACK_COMPONENTS_ALL ${component})
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endwhile()

set(CPACK_PACKAGE_NAME kestrix)
set(CPACK_PACKAGE_VENDOR "Kestrix developers")
set(CPACK_PACKAGE_CONTACT "${KX_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
# Each package's description starts with its own summary line.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${KX_PACKAGE_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SOURCE kestrix)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps sees this build's libkestrix.so.1 there; the packages that
# use it name libkestrix1 themselves.
get_target_property(kx_library_dir kestrix BINARY_DIR)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${kx_library_dir})
# Control files with the owner and modes Debian asks for.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
# The library's package tells which package provides libkestrix.so.1 (its
# shlibs file) and has ldconfig run once after it is unpacked (a trigger).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/triggers)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION "image engine that resizes, frames and labels pictures
Kestrix reads JPEG, PNG, GIF, BMP, HEIF/HEIC, AVIF, WebP and TIFF pictures
and resizes them (five ways, Lanczos or the classic sampler), frames them
with coloured borders and draws text on them, writing JPEG, PNG, WebP or
AVIF files. It keeps every buffer within a memory budget.
.
This package holds the shared library, with its plain C interface.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libkestrix1 (= ${KX_PACKAGE_VERSION})")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "image engine that resizes pictures - development files
Kestrix resizes, frames and labels pictures behind a plain C interface.
.
This package holds the header kestrix.h, the pkg-config file and the CMake
package (find_package(Kestrix), target Kestrix::kestrix).")

set(CPACK_DEBIAN_KESTRIX_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_KESTRIX_PACKAGE_DEPENDS "libkestrix1 (= ${KX_PACKAGE_VERSION})")
set(CPACK_DEBIAN_KESTRIX_DESCRIPTION "command-line tool that resizes, frames and labels pictures
kestrix runs the Kestrix engine's methods from the command line: resize,
percent, max-width, max-height, fit, fill, border, text and text-at, on one
picture, several, or whole folders and photo libraries (batch), resuming
and split over several machines.
.
This package holds the tool, its manual page and its completions for bash,
zsh and fish.")

set(CPACK_DEBIAN_FOLVANE_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_FOLVANE_PACKAGE_DEPENDS "libkestrix1 (= ${KX_PACKAGE_VERSION})")
set(CPACK_DEBIAN_FOLVANE_PACKAGE_SUGGESTS "python3-nautilus")  # for the Nautilus action
set(CPACK_DEBIAN_FOLVANE_DESCRIPTION "desktop program that resizes whole folders of pictures
Folvane resizes every picture of a folder in one operation: pick a folder,
one of five sizing methods and the sizes, and the resized copies are
written into a Resized sub-folder. It uses the Kestrix engine.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "libkestrix1 (>= ${KX_PACKAGE_VERSION}), python3")
set(CPACK_DEBIAN_PYTHON_DESCRIPTION "image engine that resizes pictures - Python module
Kestrix resizes, frames and labels pictures.
.
This package holds the Python 3 module kestrix, which calls the shared
library through ctypes.")

include(CPack)
