#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# source-licence.sh <source dir>
# Every source, build and script file of the tree names its licence in an SPDX line near its top.
set -eu
top=$1
tag='SPDX-License-Identifier: GPL-3.0-or-later'
missing=$(cd "$top" && find CMakeLists.txt src tests bench fuzz cmake scripts .ci \
    \( -name corpus -o -name build \) -prune -o -type f \
    \( -name '*.cpp' -o -name '*.h' -o -name '*.c' -o -name '*.cmake' -o -name '*.sh' -o -name '*.py' \
       -o -name CMakeLists.txt -o -name run -o -name install-deps \) -print |
  while read -r f; do head -n 3 "$f" | grep -q "$tag" || echo "$f"; done)
if [ -n "$missing" ]; then
  echo "FAIL: these files have no '$tag' line in their first three lines:"
  echo "$missing"
  exit 1
fi
