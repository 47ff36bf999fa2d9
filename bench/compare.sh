#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Kolvex against the bare tools, side by side in one run, on inputs made here (in a temporary
# folder removed at the end). Workloads (defaults; sizes set by the variables named):
#   remux   a 600 MB H.264/AAC MP4 -> MKV as a drop on the ring makes it (`kolvex-drive --ring`:
#           options from the default preferences, through the Portal's code), which must be a
#           stream copy, vs `ffmpeg -c copy`; also warm             KOLVEX_COMPARE_REMUX_MB
#   trim    30 s out of a 60-minute MP4, from the middle, with the trim tool vs
#           `ffmpeg -ss ... -t 30 -c copy -movflags +faststart`; also warm
#                                                                     KOLVEX_COMPARE_TRIM_MINUTES
#   mkv     a 10-minute H.264 (B-frames)/AAC MKV: 30 s trimmed from keyframe to keyframe vs
#           `ffmpeg -ss ... -t ... -c copy`, split at two keyframes vs `ffmpeg -f segment -c copy`,
#           one picture trimmed from a keyframe (a re-encode: no copy can stop there) vs the
#           same re-encode by ffmpeg; each also warm after the sheet's read
#                                                                     KOLVEX_COMPARE_MKV_MINUTES
#           and a 5-minute 720p MKV split at two keyframes vs the same segmenting copy (goal
#           <= 1.1x; also warm)                                         KOLVEX_COMPARE_MKV720_MINUTES
#   avi     a 10-minute MPEG-4 ASP/MP3 AVI: 30 s trimmed from a keyframe vs `ffmpeg -ss ... -t 30
#           -c copy`, split at two keyframes vs `ffmpeg -f segment -c copy`; both copies (goal
#           <= 1.2x; also warm)                                           KOLVEX_COMPARE_AVI_MINUTES
#           and a floor line: Kolvex started with FFmpeg's libraries loaded (`kolvex-drive --load
#           media`) beside ffmpeg's own start (`ffmpeg -version`), and the cold ratio no change of
#           Kolvex's goes under: (that load + the peer's run) / the peer's run
#   ogg     a 30-minute Opus Ogg: 30 s trimmed from 93% of the way in vs ffmpeg's re-encode of the
#           same span sought before its input (goal <= 1.2x)              KOLVEX_COMPARE_OGG_MINUTES
#   pdf     split a 500-page text PDF into pages vs `qpdf --split-pages` and extract its first
#           half vs `qpdf a.pdf --pages . 1-250 --` (goals: CPU and wall); merge 500 + 261 pages
#           vs `qpdf --empty --pages a.pdf b.pdf --`                   KOLVEX_COMPARE_PDF_PAGES=500,261
#           a 10-page PDF -> PNG pages at 300 dpi vs `pdftoppm -png -r 300`
#                                           KOLVEX_COMPARE_PDF_PNG_PAGES, KOLVEX_COMPARE_PDF_PNG_DPI
#   images  20 photos of 12 MP (JPEG q90) -> WebP q80, -> PNG, -> JPEG of at most 2048 pixels at
#           the source's quality, vs the same `vips` savers through `xargs -P8`
#                                                  KOLVEX_COMPARE_PHOTOS, KOLVEX_COMPARE_PHOTO_MP
#   batch   80 photos of 12 MP -> WebP q80, film grain and heavy noise, vs `vips webpsave`
#           through `xargs -P8`: wall time and peak memory (goal: wall <= 1.0x, peak <= 2/3
#           of the eight vips processes' summed peak); bench/compare/batch.py
#                                                          KOLVEX_COMPARE_BATCH_PHOTOS
#   docs    DOCX, Markdown and HTML reports of a few pages -> PDF vs LibreOffice headless
#           (installed here when missing); KOLVEX_COMPARE_DOCS=0 leaves them out
#   tray    the real `kolvex` on its own Xvfb with a tray: launch -> tray icon, RSS/PSS and CPU
#           after KOLVEX_COMPARE_IDLE (60) idle seconds, RSS and anonymous memory
#           KOLVEX_COMPARE_SETTLE (60) seconds after KOLVEX_COMPARE_CONVERSIONS (20) conversions
#           handed to it; the tray's own CPU per Portal shown for a small PNG converted with
#           Return (from the hand-over to the Portal's close, goal <= 0.25 s); how each is
#           measured: bench/compare/tray.py
#   gif     a 60-minute 1080p clip -> animated GIF, once, with the peak memory of the whole
#           process tree (the driver and every ffmpeg it starts, summed); KOLVEX_COMPARE_GIF=0
#           leaves it out                                               KOLVEX_COMPARE_GIF_MINUTES
# Each pair runs once untimed, then RUNS rounds (default 5) with the contenders taking turns
# (who goes first flips every round).
# The table shows, per workload, median/minimum wall and CPU seconds of Kolvex's whole command
# (the CPU of its whole process tree), of the same request run warm (rounds after the first
# inside one driver: engines loaded, encoders known; trim and remux) and of the peer's whole
# command, the ratios of Kolvex's medians to the peer's, the goal and whether the CPU ratio
# meets it; with the machine and the load average at the start, through the run and at the end.
# The reference programs are installed here when missing, so the test suite never pulls them in.
# Kolvex is built in KOLVEX_COMPARE_BUILD (default: a folder under $TMPDIR, outside the source
# tree, kept between runs), so a measurement never touches the developer's own build.
#
# Usage: bench/compare.sh [--only remux,trim,mkv,avi,ogg,pdf,images,batch,docs,tray,gif] [runs]   (or RUNS=n)
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
only=remux,trim,mkv,avi,ogg,pdf,images,batch,docs,tray,gif
if [ "${1:-}" = "--only" ]; then
  only=${2:?--only needs a list of workloads}
  shift 2
fi
runs=${1:-${RUNS:-5}}

wants() {
  case ",$only," in *",$1,"*) return 0 ;; esac
  return 1
}
need() { "$root/bench/ensure-reference.sh" "$1" "$2"; }

need /usr/bin/ffmpeg ffmpeg
{ wants images || wants batch; } && need /usr/bin/vips libvips-tools
wants pdf && need /usr/bin/qpdf qpdf
wants pdf && need /usr/bin/pdftoppm poppler-utils
if wants docs && [ "${KOLVEX_COMPARE_DOCS:-1}" != 0 ]; then
  need /usr/bin/soffice libreoffice-writer-nogui
fi
if wants tray; then
  need /usr/bin/Xvfb xvfb
  need /usr/bin/trayer trayer
  need /usr/bin/xdotool xdotool
  need /usr/bin/xwininfo x11-utils
  need /usr/bin/dbus-daemon dbus
fi

build=${KOLVEX_COMPARE_BUILD:-${TMPDIR:-/tmp}/kolvex-compare-build-$(id -u)}
case "$build" in
  "$root"|"$root"/*) echo "compare.sh: build outside the source tree, not in $build" >&2; exit 2 ;;
esac
cd "$root"
cmake --preset default -B "$build" >/dev/null
targets=kolvex-drive
if wants tray; then targets="$targets kolvex"; fi
# shellcheck disable=SC2086 # one word per target
cmake --build "$build" --target $targets >/dev/null
stage="$build/stage/bin"
exec python3 -B "$root/bench/compare/compare.py" --drive "$stage/kolvex-drive" --app "$stage/kolvex" --only "$only" "$runs"
