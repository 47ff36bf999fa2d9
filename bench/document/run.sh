#!/bin/sh
# Runs the document benchmark. LibreOffice is the reference; it is installed here (and only
# here) when missing, so the test suite never pulls it in.
# Usage: bench/document/run.sh [benchmark options]
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
if [ ! -x /usr/bin/soffice ]; then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get -o DPkg::Lock::Timeout=900 install -y --no-install-recommends libreoffice-writer-nogui >/dev/null ||
    { $sudo apt-get update -q >/dev/null && $sudo apt-get -o DPkg::Lock::Timeout=900 install -y --no-install-recommends libreoffice-writer-nogui; }
fi
cd "$root"
cmake --preset default >/dev/null
cmake --build --preset default --target bench-document
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} exec "$root/build/default/stage/bin/bench-document" "$@"
