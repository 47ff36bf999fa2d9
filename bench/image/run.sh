#!/bin/sh
# Runs the image benchmark. ImageMagick's mogrify is one of the references; it is installed here
# (and only here) when missing, so the test suite never pulls ImageMagick in.
# Usage: bench/image/run.sh [benchmark options]; KOLVEX_BENCH_IMAGES sets the batch size (8).
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
if [ ! -x /usr/bin/mogrify ]; then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get -o DPkg::Lock::Timeout=900 install -y --no-install-recommends imagemagick >/dev/null ||
    { $sudo apt-get update -q >/dev/null && $sudo apt-get -o DPkg::Lock::Timeout=900 install -y --no-install-recommends imagemagick; }
fi
cd "$root"
cmake --preset default >/dev/null
cmake --build --preset default --target bench-image
exec "$root/build/default/stage/bin/bench-image" "$@"
