# `make package`: a Debian package of the installed tree (CPack DEB), kolvex_<version>_<arch>.deb.
# Depends: the shared libraries we link, found by dpkg-shlibdeps, and the programs we run.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kolvex)
set(CPACK_PACKAGE_VENDOR "The Kolvex developers")
set(CPACK_PACKAGE_CONTACT "The Kolvex developers <support@kolvex.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Convert files where they lie")
set(CPACK_PACKAGE_DESCRIPTION
  "Kolvex lives in the tray. Drag files in any application and hold Shift: the Portal opens under\n"
  "the pointer with the formats the files can become and the tools that apply to them. The result\n"
  "is written next to the original, never over an existing file.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://kolvex.org")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Programs Kolvex runs, and the fonts its documents are laid out with.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "ffmpeg, libarchive-tools, gzip, bzip2, xz-utils, xdg-utils, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-core, fonts-noto-cjk, fonts-noto-color-emoji")
# Only what a user needs: the program and its resources, not the tests or benchmarks.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};ALL;/")
include(CPack)
