#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# source-licence.sh <source dir>
# Every source, build and script file of the tree names its licence in an SPDX line near its top,
# and the AppStream data tells a software centre the same licence.
set -eu
top=$1
licence='GPL-3.0-or-later'
tag="SPDX-License-Identifier: $licence"
missing=$(cd "$top" && find Makefile CMakeLists.txt src tests bench fuzz cmake scripts resources .ci \
    \( -name corpus -o -name build \) -prune -o -type f \
    \( -name '*.cpp' -o -name '*.h' -o -name '*.c' -o -name '*.cmake' -o -name '*.sh' -o -name '*.py' \
       -o -name '*.h.in' -o -name CMakeLists.txt -o -name Makefile -o -name run -o -name install-deps \) -print |
  while read -r f; do head -n 3 "$f" | grep -q "$tag" || echo "$f"; done)
if [ -n "$missing" ]; then
  echo "FAIL: these files have no '$tag' line in their first three lines:"
  echo "$missing"
  exit 1
fi

# The licence text shipped is the one the tag names.
grep -q 'GNU GENERAL PUBLIC LICENSE' "$top/LICENSE" && grep -q 'Version 3' "$top/LICENSE" ||
  { echo "FAIL: LICENSE is not the GPL version 3 that '$tag' names"; exit 1; }
metainfo=$top/resources/desktop/org.kolvex.Kolvex.metainfo.xml
grep -q "<project_license>$licence</project_license>" "$metainfo" ||
  { echo "FAIL: $metainfo has no <project_license>$licence</project_license>"; exit 1; }
