#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# install-and-package.sh <build dir> <cmake> <cpack>
# Exits 77 (skipped) when a tool it needs is missing; prints what failed otherwise.
set -eu
build=$1 cmake=$2 cpack=$3
for tool in dpkg-deb desktop-file-validate appstreamcli update-desktop-database gio vipsheader readelf lintian; do
  command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
id=org.kolvex.Kolvex

# 1. Install under another prefix, below DESTDIR: everything lands there, nowhere else.
DESTDIR=$work/dest "$cmake" --install "$build" --prefix /opt/kolvex >"$work/install.log"
grep -E '^-- (Installing|Up-to-date):' "$work/install.log" | grep -v -- "-- [A-Za-z-]*: $work/dest/opt/kolvex/" \
  && fail "files installed outside DESTDIR/prefix"
root=$work/dest/opt/kolvex
for file in bin/kolvex share/kolvex/LICENSES.md share/kolvex/Kolvex_KolvexCore.bundle/FormatManifest.json \
            share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
            share/icons/hicolor/scalable/apps/$id.svg; do
  [ -f "$root/$file" ] || fail "missing $file"
done
for tool in ffmpeg ffprobe kolvex-file-chooser; do
  [ -x "$root/libexec/kolvex/$tool" ] || fail "libexec/kolvex/$tool does not run"
done
# The shared core and the engine modules, in one folder below the prefix.
lib=$(dirname "$(find "$root" -name libkolvex-core.so)")
[ -n "$lib" ] && [ "$lib" != . ] || fail "missing libkolvex-core.so"
for module in image pdf pdf-pages document archive media; do
  [ -f "$lib/kolvex-engine-$module.so" ] || fail "missing the $module engine module beside libkolvex-core.so"
done
for size in 16 22 24 32 48 64 128 256; do
  png=$root/share/icons/hicolor/${size}x$size/apps/$id.png
  [ "$(vipsheader -f width "$png")x$(vipsheader -f height "$png")" = "${size}x$size" ] || fail "icon $png is not $size px"
done

needed() { readelf -d "$@" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p' | sort -u; }
# The program maps the engines' libraries only when it loads their modules, on first use.
heavy=$(needed "$root/bin/kolvex" | grep -E '^lib(vips|poppler|qpdf|av|sw|archive)' || true)
[ -z "$heavy" ] || fail "the program links an engine's libraries itself: $heavy"

# The notices cover every library the program, its file chooser and its modules link, and
# nothing they do not.
# A sanitizer build links what no package ships (the sanitizer runtimes and what they pull in):
# the check is for the program that is shipped.
notices=$root/share/kolvex/LICENSES.md
libraries=$(needed "$root/bin/kolvex" "$root/libexec/kolvex/kolvex-file-chooser" "$lib"/*.so | grep -v '^libkolvex-core\.so$')
case $libraries in *libasan*|*libubsan*) libraries="" ;; esac
for lib in $libraries; do
  case $lib in
    libQt6*) name="Qt 6" ;;
    libvips*) name=libvips ;;
    libav*|libsw*) name=FFmpeg ;;
    libpoppler*) name=poppler ;;
    libglib*|libgobject*|libgio*) name=GLib ;;
    libgtk-3*|libgdk-3*) name="GTK 3" ;;
    libqpdf*) name=qpdf ;;
    libarchive*) name=libarchive ;;
    liblzma*) name=liblzma ;;
    libharfbuzz*) name=HarfBuzz ;;
    libfontconfig*) name=fontconfig ;;
    libfreetype*) name=FreeType ;;
    libwebp*) name=libwebp ;;
    libuuid*) name=libuuid ;;
    libicu*) name=ICU ;;
    libfmt*) name=fmt ;;
    libspdlog*) name=spdlog ;;
    libpugixml*) name=pugixml ;;
    libX*) name=${lib%%.so*} ;;
    libc.so*|libm.so*|libstdc++*|libgcc_s*|ld-linux*) continue ;;  # the system's own
    *) fail "LICENSES.md has no notice for $lib" ;;
  esac
  grep -q "$name" "$notices" || fail "LICENSES.md does not name $name ($lib)"
done
grep -qi md4c "$notices" && fail "LICENSES.md names md4c, which Kolvex does not use"

# The installed copy checks its own resources (the build tree is not searched from there).
XDG_CONFIG_HOME=$work/config "$root/bin/kolvex" --verify-resources >"$work/verify.log" || { cat "$work/verify.log"; fail "installed --verify-resources"; }

# The launcher entry and the AppStream data pass the desktop's validators.
desktop-file-validate "$root/share/applications/$id.desktop" || fail "desktop-file-validate"
grep -q '^Icon=org.kolvex.Kolvex$' "$root/share/applications/$id.desktop" || fail "the entry names another icon"
# "Open With" starts the installed program, wherever the tree went and whatever PATH says.
grep -q "^Exec=/opt/kolvex/bin/kolvex %F\$" "$root/share/applications/$id.desktop" || fail "Exec= does not name the installed program"
grep -q "^TryExec=/opt/kolvex/bin/kolvex\$" "$root/share/applications/$id.desktop" || fail "TryExec= does not name the installed program"
appstreamcli validate --no-net "$root/share/metainfo/$id.metainfo.xml" >"$work/appstream.log" || { cat "$work/appstream.log"; fail "appstreamcli validate"; }

# "Open With": the desktop's application database offers Kolvex for what it converts, and not
# for what it cannot read, with the program's folder not on PATH. TryExec= must find the program,
# so this copy is installed where it runs (the one above lives below DESTDIR).
tree=$work/tree
"$cmake" --install "$build" --prefix "$tree" >/dev/null
grep -q "^TryExec=$tree/bin/kolvex\$" "$tree/share/applications/$id.desktop" || fail "TryExec= in $tree"
update-desktop-database "$tree/share/applications"
for type in image/png application/pdf video/mp4 audio/flac application/zip; do
  XDG_DATA_HOME=$work/data XDG_DATA_DIRS=$tree/share gio mime "$type" 2>/dev/null \
    | grep -q "$id.desktop" || fail "not offered for $type"
done
XDG_DATA_HOME=$work/data XDG_DATA_DIRS=$tree/share gio mime application/x-executable 2>/dev/null \
  | grep -q "$id.desktop" && fail "offered for a type it cannot convert"

# 2. The Debian package: built, unpacked and run from a temporary root.
"$cpack" --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" || { cat "$work/cpack.log"; fail "cpack"; }
set -- "$work"/package/kolvex_*_*.deb
[ -f "$1" ] || fail "no kolvex_<version>_<arch>.deb"
deb=$1
depends=$(dpkg-deb -f "$deb" Depends)
for needed in ffmpeg libarchive-tools fonts-dejavu-core libqt6widgets6 libvips42 libpoppler-cpp0v5; do
  echo "$depends" | grep -q "$needed" || fail "Depends lacks $needed: $depends"
done
# Debian's own checks: no error and no warning but those overridden, each with its reason.
lintian --fail-on error,warning --no-tag-display-limit "$deb" >"$work/lintian.log" 2>&1 \
  || { cat "$work/lintian.log"; fail "lintian"; }
dpkg-deb -c "$deb" | grep -q '/usr/share/doc/kolvex/copyright$' || fail "no copyright file"
dpkg-deb -c "$deb" | grep -q '/usr/share/doc/kolvex/changelog.gz$' || fail "no change log"
dpkg-deb -x "$deb" "$work/unpacked"
grep -q '^Exec=/usr/bin/kolvex %F$' "$work/unpacked/usr/share/applications/$id.desktop" || fail "packaged Exec="
XDG_CONFIG_HOME=$work/config "$work/unpacked/usr/bin/kolvex" --verify-resources >"$work/verify.log" || { cat "$work/verify.log"; fail "packaged --verify-resources"; }
status=$(XDG_CONFIG_HOME=$work/config "$work/unpacked/usr/bin/kolvex" --login-status)
[ "$status" = "  open at login: not registered — Kolvex will not open at login" ] || fail "packaged --login-status: $status"
echo "installed, validated, packaged and run: $(basename "$deb")"
