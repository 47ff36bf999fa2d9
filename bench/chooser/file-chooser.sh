#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The desktop's file chooser as Convert Files… shows it, on an Xvfb of its own, in two ways:
# opened on a folder of many files, and opened elsewhere and then taken to that folder while it is
# up, as a user goes there. Each run prints how long until it lists every file (goal: <= 0.5 s
# for 20,000), the longest the program's event loop stood still meanwhile, and the longest a file
# handed over by a second launch waited for the program to take it (the tray answers: goal
# <= 100 ms with 50,000 files). Runs the test helper `file-chooser-host` from the build tree.
#   bench/chooser/file-chooser.sh [BUILD_DIR]     KOLVEX_CHOOSER_FILES (50000), RUNS (5)
set -eu
build=${1:-build/default}
host="$build/stage/bin/file-chooser-host"
files=${KOLVEX_CHOOSER_FILES:-50000}
runs=${RUNS:-5}
[ -x "$host" ] || { echo "build the file-chooser-host target first ($host)" >&2; exit 1; }
work=$(mktemp -d)
trap 'kill "$xvfb" 2>/dev/null || true; rm -rf "$work"' EXIT INT TERM
mkdir "$work/many" "$work/home" "$work/home/elsewhere"
# Files of a camera's names, empty: listing reads names and attributes, not contents.
(cd "$work/many" && seq -f "IMG_%05g.JPG" 1 "$files" | xargs touch)
display=:$(( 300 + $$ % 300 ))
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for i in 1 2 3 4 5 6 7 8 9 10; do
  [ -e "/tmp/.X11-unix/X${display#:}" ] && break
  sleep 0.2
done
echo "file chooser on $files files, $runs runs (load: $(cut -d' ' -f1-3 /proc/loadavg))"
i=0
chooser() {
  DISPLAY=$display HOME=$work/home XDG_RUNTIME_DIR=$work/home GTK_USE_PORTAL=0 NO_AT_BRIDGE=1 \
    GSETTINGS_BACKEND=memory QT_QPA_PLATFORM=xcb "$host" files "$@" --until-listed "$files" 2>&1 |
    grep -E "^(listed|longest)" | tr '\n' ' '
  echo
}
while [ "$i" -lt "$runs" ]; do
  i=$((i + 1))
  printf 'opened there:  '; chooser "$work/many"
  printf 'gone there:    '; chooser "$work/home/elsewhere" --go-to "$work/many"
done
