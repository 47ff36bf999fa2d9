#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the document benchmark. LibreOffice is the reference; it is installed here (and only
# here) when missing, so the test suite never pulls it in.
# Usage: bench/document/run.sh [benchmark options]
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
"$root/bench/ensure-reference.sh" /usr/bin/soffice libreoffice-writer-nogui
cd "$root"
cmake --preset default >/dev/null
cmake --build --preset default --target bench-document
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} exec "$root/build/default/stage/bin/bench-document" "$@"
