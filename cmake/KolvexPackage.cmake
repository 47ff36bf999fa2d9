# SPDX-License-Identifier: GPL-3.0-or-later
# `make package`: a Debian package of the installed tree (CPack DEB), kolvex_<version>_<arch>.deb.
# Depends: the shared libraries we link, found by dpkg-shlibdeps, and the programs we run.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kolvex)
set(CPACK_PACKAGE_VENDOR "The Kolvex developers")
set(CPACK_PACKAGE_CONTACT "The Kolvex developers <support@kolvex.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Convert files where they lie")
set(CPACK_PACKAGE_DESCRIPTION
  "Kolvex lives in the tray. Drag files in any application and hold Shift: the\n"
  "Portal opens under the pointer with the formats the files can become and the\n"
  "tools that apply to them. The result is written next to the original, never\n"
  "over an existing file.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://kolvex.org")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Programs Kolvex runs, and the fonts its documents are laid out with (gzip is essential: every
# system has it).
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "ffmpeg, libarchive-tools, bzip2, xz-utils, xdg-utils, fonts-dejavu-core")
# desktop-file-utils builds the cache "Open With" reads, from the trigger the package activates.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-core, fonts-noto-cjk, fonts-noto-color-emoji, desktop-file-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${PROJECT_SOURCE_DIR}/resources/debian/triggers")
# Only what a user needs: the program and its resources, not the tests or benchmarks.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};ALL;/")
include(CPack)
