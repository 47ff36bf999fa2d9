#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the image benchmark. ImageMagick's mogrify is one of the references; it is installed here
# (and only here) when missing, so the test suite never pulls ImageMagick in.
# Usage: bench/image/run.sh [benchmark options]; KOLVEX_BENCH_IMAGES sets the batch size (8).
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
"$root/bench/ensure-reference.sh" /usr/bin/mogrify imagemagick
cd "$root"
cmake --preset default >/dev/null
cmake --build --preset default --target bench-image
exec "$root/build/default/stage/bin/bench-image" "$@"
