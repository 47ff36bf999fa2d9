# SPDX-License-Identifier: GPL-3.0-or-later
# Included by the install: writes the launcher entry with Exec= and TryExec= naming the installed
# program, so "Open With" starts this copy whether or not its folder is on PATH. Runs with the
# install's own prefix (--prefix, or /usr in the package) and honours DESTDIR.
#   ENTRY: the entry built with the @KOLVEX_PROGRAM@ placeholder; BINDIR, DATADIR: below the prefix
set(KOLVEX_PROGRAM "${CMAKE_INSTALL_PREFIX}/${BINDIR}/kolvex")
get_filename_component(name "${ENTRY}" NAME)
set(staged "${ENTRY}.installed/${name}")
configure_file("${ENTRY}" "${staged}" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${DATADIR}/applications" TYPE FILE FILES "${staged}")
