#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian package that holds a benchmark's reference program when the program is
# missing, so the test suite never pulls the reference tools in.
# Usage: bench/ensure-reference.sh <program path> <package>
set -eu
program=$1
package=$2
[ -x "$program" ] && exit 0
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get -o DPkg::Lock::Timeout=900 install -y --no-install-recommends "$package" >/dev/null ||
  { $sudo apt-get update -q >/dev/null && $sudo apt-get -o DPkg::Lock::Timeout=900 install -y --no-install-recommends "$package"; }
