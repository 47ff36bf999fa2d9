#!/bin/sh
# Kolvex against the bare tools, side by side in one run, on inputs made here:
#   images   12 photos of 12 MP, JPEG -> WebP q80: Kolvex vs a loop of `vips webpsave` and
#            ImageMagick's `mogrify`, each with as many conversions at once as Kolvex runs
#   remux    an H.264/AAC MP4 -> MKV as a drop on the ring makes it (options from the default
#            preferences, through the Portal's code: `kolvex-drive --ring`), which must be a stream
#            copy, vs bare `ffmpeg -c copy`
#   trim     the same MP4 cut at keyframes: Kolvex's trim tool vs bare `ffmpeg -ss ... -c copy`
#   gif      a 5-minute 1080p clip -> animated GIF, once, with the peak memory of the whole run
#            (the driver and every ffmpeg it starts); KOLVEX_COMPARE_GIF=0 leaves it out
# Each task but gif runs RUNS times (default 5), the contenders taking turns; the table shows medians.
# Kolvex's time is the coordinator's wall time for the request as the driver reports it (the
# application is resident with its engines loaded); the tools' times are whole commands.
# ImageMagick is installed here when missing, so the test suite never pulls it in.
#
# Usage: bench/compare.sh [runs]. KOLVEX_COMPARE_SECONDS sets the video's length (60).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
seconds=${KOLVEX_COMPARE_SECONDS:-60}

need_package() {
  if [ ! -x "$1" ]; then
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get -o DPkg::Lock::Timeout=900 install -y --no-install-recommends "$2" >/dev/null ||
      { $sudo apt-get update -q >/dev/null && $sudo apt-get -o DPkg::Lock::Timeout=900 install -y --no-install-recommends "$2"; }
  fi
}
need_package /usr/bin/mogrify imagemagick
need_package /usr/bin/vips libvips-tools
need_package /usr/bin/ffmpeg ffmpeg

cd "$root"
cmake --preset default >/dev/null
cmake --build --preset default --target kolvex-drive >/dev/null
drive="$root/build/default/stage/bin/kolvex-drive"

work=$(mktemp -d "${TMPDIR:-/tmp}/kolvex-compare-XXXXXX")
# The ring's requests read the preferences: the defaults, from a folder of our own.
export XDG_CONFIG_HOME="$work/config"
trap 'rm -rf "$work"' EXIT INT TERM
cores=$(nproc)
parallel=$cores
if [ "$parallel" -lt 2 ]; then parallel=2; fi
if [ "$parallel" -gt 8 ]; then parallel=8; fi

echo "Making the inputs in $work ..."
mkdir -p "$work/photos" "$work/times"
# Test-card frames with film grain: large, photographic JPEGs rather than flat colour.
ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc2=size=4000x3000:rate=1" -frames:v 12 \
  -vf "noise=alls=12:allf=u" -q:v 3 "$work/photos/photo%02d.jpg"
# A 1080p clip with a keyframe every second and a high bit rate, so the copy moves real data.
ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc2=size=1920x1080:rate=30" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000" -t "$seconds" \
  -vf "noise=alls=8:allf=t" -c:v libx264 -preset ultrafast -b:v 20M -g 30 -keyint_min 30 \
  -c:a aac -b:a 128k -movflags +faststart "$work/clip.mp4"
trim_start=$(awk -v s="$seconds" 'BEGIN { print int(s / 4) }')
trim_end=$(awk -v s="$seconds" 'BEGIN { print int(s * 3 / 4) }')

now() { date +%s.%N; }
# Runs a command, records its wall time under the given name.
timed() {
  name=$1
  shift
  start=$(now)
  if ! "$@" >/dev/null 2>"$work/err"; then
    echo "failed: $*" >&2
    cat "$work/err" >&2
    exit 1
  fi
  end=$(now)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f\n", b - a }' >>"$work/times/$name"
}
# Runs the driver, records the wall time it reports; every file must succeed.
kolvex() {
  name=$1
  shift
  if ! "$drive" "$@" >"$work/out" 2>"$work/err"; then
    echo "failed: kolvex-drive $*" >&2
    cat "$work/out" "$work/err" >&2
    exit 1
  fi
  awk '$1 == "wall" { print $2 }' "$work/out" >>"$work/times/$name"
}
# The same for a request that must have copied its streams.
kolvex_copy() {
  name=$1
  shift
  kolvex "$name" "$@"
  if ! awk -F '\t' '$1 == "ok" && $3 != "copy" { bad = 1 } END { exit bad }' "$work/out"; then
    echo "not a stream copy: kolvex-drive $*" >&2
    cat "$work/out" >&2
    exit 1
  fi
}
fresh() {
  rm -rf "$work/o"
  mkdir -p "$work/o"
}

vips_loop() {
  cd "$work/photos"
  ls | xargs -P "$parallel" -I{} vips webpsave {} "$work/o/{}.webp" --Q 80
}
mogrify_batch() {
  cd "$work/photos"
  per=$(( (12 + parallel - 1) / parallel ))
  ls | xargs -P "$parallel" -n "$per" mogrify -path "$work/o" -format webp -quality 80
}

i=1
while [ "$i" -le "$runs" ]; do
  echo "Run $i of $runs ..."
  fresh; kolvex images-kolvex --to webp --set quality=0.8 --out "$work/o" "$work"/photos/*.jpg
  fresh; timed images-vips vips_loop
  fresh; timed images-mogrify mogrify_batch
  fresh; kolvex_copy remux-kolvex --to mkv --ring --out "$work/o" "$work/clip.mp4"
  fresh; timed remux-ffmpeg ffmpeg -nostdin -loglevel error -y -i "$work/clip.mp4" -c copy "$work/o/clip.mkv"
  fresh; kolvex trim-kolvex --tool trim --set trimStart="$trim_start" --set trimEnd="$trim_end" --out "$work/o" "$work/clip.mp4"
  fresh; timed trim-ffmpeg ffmpeg -nostdin -loglevel error -y -ss "$trim_start" -i "$work/clip.mp4" \
    -t "$((trim_end - trim_start))" -c copy "$work/o/clip.mp4"
  i=$((i + 1))
done

gif_row=""
if [ "${KOLVEX_COMPARE_GIF:-1}" != 0 ]; then
  echo "GIF from a 5-minute 1080p clip ..."
  ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc2=size=1920x1080:rate=30" -t 300 \
    -c:v libx264 -preset ultrafast -crf 28 -g 60 "$work/long.mp4"
  fresh
  # ru_maxrss of waited-for children covers the driver and the ffmpeg runs it waited for.
  gif_row=$(python3 - "$drive" "$work" <<'PY'
import resource, subprocess, sys, time
drive, work = sys.argv[1], sys.argv[2]
start = time.monotonic()
done = subprocess.run([drive, "--to", "gif", "--out", work + "/o", work + "/long.mp4"], capture_output=True, text=True)
seconds = time.monotonic() - start
if done.returncode != 0:
    sys.exit("GIF failed: " + done.stdout + done.stderr)
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024
print(f"{'gif':<8} {seconds:10.3f}  {'peak memory':<18} {peak:8.0f} MB            <= 1500 MB for 60 min")
PY
)
fi

median() { sort -g "$work/times/$1" | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.4f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
row() {
  ours=$(median "$2")
  theirs=$(median "$4")
  awk -v task="$1" -v ours="$ours" -v ref="$3" -v theirs="$theirs" -v goal="$5" \
    'BEGIN { printf "%-8s %10.3f  %-18s %10.3f  %7.2fx  %s\n", task, ours, ref, theirs, ours / theirs, goal }'
}
echo
echo "Medians of $runs runs, seconds; $cores cores, $parallel conversions at once; clip ${seconds}s 1080p"
printf "%-8s %10s  %-18s %10s  %8s  %s\n" task kolvex reference time ratio goal
row images images-kolvex "vips loop" images-vips "<= 1.00x"
row images images-kolvex "mogrify" images-mogrify "<= 0.20x"
row remux remux-kolvex "ffmpeg -c copy" remux-ffmpeg "<= 1.05x"
row trim trim-kolvex "ffmpeg -ss -c copy" trim-ffmpeg ""
if [ -n "$gif_row" ]; then echo "$gif_row"; fi
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
