# SPDX-License-Identifier: GPL-3.0-or-later
"""Kolvex against the bare tools, side by side on inputs made for the run; bench/compare.sh
installs the reference programs, builds Kolvex and calls this. See compare.sh for the workloads.

Each pair runs once untimed (warm caches for both sides), then RUNS rounds; in each round every
pair runs both contenders, the order flipping from one round to the next. Kolvex's "process"
figures are the whole `kolvex-drive` command; its "warm" figures (trim and remux) are rounds of
the same request repeated inside one driver after the first, the way the tray runs a request
with its engines loaded and its programs known (a trim after its sheet has read the file, as
in the app); the peer's figures are always its whole
command. Every side is timed in wall seconds and in CPU seconds of its whole process tree (the
program and every program it waited for): on a loaded machine wall time swings twice over,
CPU time does not. A ratio is Kolvex's median over the peer's median; a goal is met when the
CPU ratio is at or under it (the warm ratio for a warm goal). The load average is sampled
through the whole run.
"""
import argparse
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import batch  # noqa: E402
import floor  # noqa: E402
import inputs  # noqa: E402
import tray  # noqa: E402
from timing import children_cpu, spread, timed  # noqa: E402

WORKLOADS = ("remux", "trim", "mkv", "avi", "ogg", "pdf", "images", "batch", "docs", "tray", "gif")


class Failure(Exception):
    pass


@dataclass
class Pair:
    name: str
    goal: float  # the largest process ratio that meets the goal
    goal_text: str
    kolvex: list
    peer: list
    peer_input: str = None
    kolvex_env: dict = None
    need_copy: bool = False  # every result must be a stream copy
    warm_goal: float = None  # when set, the request is also measured warm, against this goal
    wall_goal: float = None  # when set, the wall ratio must be at or under it too
    warm_as: list = field(default_factory=list)  # driver options that make the warm rounds the app's
    kolvex_times: list = field(default_factory=list)
    kolvex_cpu: list = field(default_factory=list)
    warm_times: list = field(default_factory=list)
    warm_cpu: list = field(default_factory=list)
    peer_times: list = field(default_factory=list)
    peer_cpu: list = field(default_factory=list)
    modes: set = field(default_factory=set)
    sizes: tuple = (0, 0)
    failure: str = None  # why the pair stopped, when one of its runs failed


def folder_bytes(folder: Path) -> int:
    return sum(p.stat().st_size for p in folder.rglob("*") if p.is_file())


def fresh(folder: Path):
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)


WARM_REPEATS = 3  # the first round is cold; the rest are warm


def run_kolvex(drive: Path, pair: Pair, out: Path, repeat: int = 1):
    fresh(out)
    warm = [*pair.warm_as, "--repeat", repeat] if repeat > 1 else []
    command = [drive, *warm, *pair.kolvex]
    seconds, cpu, done = timed(command, capture_output=True, text=True, env=pair.kolvex_env)
    if done.returncode != 0:
        raise Failure(f"kolvex-drive {' '.join(map(str, pair.kolvex))}\n{done.stdout}{done.stderr}")
    rows = [line.split("\t") for line in done.stdout.splitlines()]
    modes = {row[2] for row in rows if row[0] == "ok"}
    if pair.need_copy and modes != {"copy"}:
        raise Failure(f"not a stream copy: kolvex-drive {' '.join(map(str, pair.kolvex))}\n{done.stdout}")
    pair.modes |= modes
    # Each warm round: (wall, CPU) as the driver measured it around the request.
    rounds = [(float(row[2]), float(row[3])) for row in rows if row[0] == "round" and int(row[1]) > 1]
    return seconds, cpu, rounds


def run_peer(pair: Pair, out: Path):
    fresh(out)
    seconds, cpu, done = timed(pair.peer, input=pair.peer_input, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        raise Failure(f"{' '.join(map(str, pair.peer))}\n{done.stderr}")
    return seconds, cpu


def measure_once(pair: Pair, drive: Path, out: Path, sides, record: bool):
    try:
        for side in sides:
            if side == "kolvex":
                seconds, cpu, _ = run_kolvex(drive, pair, out)
                kolvex_bytes = folder_bytes(out)
                if record:
                    pair.kolvex_times.append(seconds)
                    pair.kolvex_cpu.append(cpu)
                if record and pair.warm_goal:
                    _, _, warm = run_kolvex(drive, pair, out, WARM_REPEATS)
                    pair.warm_times += [wall for wall, _ in warm]
                    pair.warm_cpu += [cpu for _, cpu in warm]
            else:
                seconds, cpu = run_peer(pair, out)
                peer_bytes = folder_bytes(out)
                if record:
                    pair.peer_times.append(seconds)
                    pair.peer_cpu.append(cpu)
        pair.sizes = (kolvex_bytes, peer_bytes)
    except Failure as failure:
        # The other workloads still run; this one is reported as failed.
        pair.failure = str(failure)
        print(f"failed: {failure}", file=sys.stderr, flush=True)


def measure(pairs, drive: Path, out: Path, runs: int, warmup: int):
    for pair in pairs:
        for _ in range(warmup):
            if not pair.failure:
                measure_once(pair, drive, out, ("kolvex", "peer"), record=False)
    for round_ in range(runs):
        print(f"Round {round_ + 1} of {runs} ...", flush=True)
        for pair in pairs:
            if not pair.failure:
                sides = ("kolvex", "peer") if round_ % 2 == 0 else ("peer", "kolvex")
                measure_once(pair, drive, out, sides, record=True)


HEADER = ["workload", "kolvex wall", "kolvex CPU", "warm wall", "warm CPU", "peer wall", "peer CPU",
          "ratio wall", "ratio CPU", "warm ratio CPU", "goal", "mark"]


def pair_row(pair: Pair) -> list:
    if pair.failure:
        return [pair.name, "FAILED: " + pair.failure.splitlines()[-1][:60], *[""] * 8, pair.goal_text, "failed"]
    median = statistics.median
    cpu_ratio = median(pair.kolvex_cpu) / median(pair.peer_cpu)
    met = cpu_ratio <= pair.goal
    warm = ["", "", ""]
    if pair.warm_goal and pair.warm_cpu:
        warm_ratio = median(pair.warm_cpu) / median(pair.peer_cpu)
        warm = [spread(pair.warm_times), spread(pair.warm_cpu), f"{warm_ratio:.2f}x"]
        met = met and warm_ratio <= pair.warm_goal
    if pair.wall_goal:
        met = met and median(pair.kolvex_times) / median(pair.peer_times) <= pair.wall_goal
    return [pair.name, spread(pair.kolvex_times), spread(pair.kolvex_cpu), warm[0], warm[1], spread(pair.peer_times),
            spread(pair.peer_cpu), f"{median(pair.kolvex_times) / median(pair.peer_times):.2f}x", f"{cpu_ratio:.2f}x",
            warm[2], pair.goal_text, "met" if met else "NOT met"]


def print_table(rows):
    widths = [max(len(str(row[i])) for row in [HEADER, *rows]) for i in range(len(HEADER))]
    for row in [HEADER, ["-" * w for w in widths], *rows]:
        print("  ".join(str(cell).ljust(width) for cell, width in zip(row, widths)).rstrip())


class LoadRecorder:
    """Samples the 1-minute load average every few seconds for as long as the run lasts."""

    def __init__(self, interval=5.0):
        self.samples = []
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, args=(interval,), daemon=True)

    def _run(self, interval):
        while True:
            with open("/proc/loadavg") as average:
                self.samples.append(float(average.read().split()[0]))
            if self._stop.wait(interval):
                return

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *_):
        self._stop.set()
        self._thread.join()

    def summary(self) -> str:
        if not self.samples:
            return "no samples"
        return (f"min {min(self.samples):.1f}, median {statistics.median(self.samples):.1f}, "
                f"max {max(self.samples):.1f} over {len(self.samples)} samples")


def machine() -> str:
    model = "unknown"
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as info:
        memory = int(info.readline().split()[1]) / 1024 / 1024
    return f"{os.cpu_count()} cores ({len(os.sched_getaffinity(0))} usable), {model}, {memory:.1f} GB memory"


def load() -> str:
    with open("/proc/loadavg") as average:
        return " ".join(average.read().split()[:3])


def pairs_for(selected, work: Path, drive: Path, out: Path) -> list:
    pairs = []
    ring_env = dict(os.environ, XDG_CONFIG_HOME=str(work / "config"))
    if "remux" in selected:
        megabytes = inputs.env_number("KOLVEX_COMPARE_REMUX_MB", 600)
        print(f"Making a {megabytes} MB MP4 ...", flush=True)
        clip = inputs.remux_clip(work, megabytes)
        pairs.append(Pair(f"remux {clip.stat().st_size / 1e6:.0f} MB mp4->mkv", 1.05, "<= 1.05x; warm <= 1.05x",
                          ["--to", "mkv", "--ring", "--out", out, clip],
                          ["ffmpeg", *inputs.QUIET, "-i", clip, "-c", "copy", out / "remux.mkv"],
                          kolvex_env=ring_env, need_copy=True, warm_goal=1.05))
    if "trim" in selected:
        minutes = inputs.env_number("KOLVEX_COMPARE_TRIM_MINUTES", 60)
        print(f"Making a {minutes}-minute MP4 ...", flush=True)
        clip = inputs.long_clip(work, minutes)
        # Both cut at a keyframe half-way through, where a copy can start. In the app a trim
        # always follows its sheet, which has read the file's keyframes: so do the warm rounds.
        start = round(inputs.keyframe_near(clip, minutes * 60 / 2), 6)
        pairs.append(Pair(f"trim 30 s of {minutes} min", 1.5, "<= 1.5x; warm <= 1.15x",
                          ["--tool", "trim", "--set", f"trimStart={start}", "--set", f"trimEnd={start + 30}",
                           "--out", out, clip],
                          ["ffmpeg", *inputs.QUIET, "-ss", start, "-i", clip, "-t", 30, "-c", "copy", "-movflags",
                           "+faststart", out / "long.mp4"], warm_goal=1.15, warm_as=["--sheet-first"]))
    if "mkv" in selected:
        minutes = inputs.env_number("KOLVEX_COMPARE_MKV_MINUTES", 10)
        print(f"Making a {minutes}-minute MKV with B-frames ...", flush=True)
        clip = inputs.mkv_clip(work, minutes)
        # Cut at keyframes, where a copy can start and end; after the sheet, as in the app.
        start = round(inputs.keyframe_near(clip, minutes * 60 / 2), 6)
        end = round(inputs.keyframe_near(clip, start + 30), 6)
        pairs.append(Pair(f"mkv trim {end - start:.0f} s of {minutes} min", 1.5, "<= 1.5x; warm <= 1.2x",
                          ["--tool", "trim", "--set", f"trimStart={start}", "--set", f"trimEnd={end}", "--out", out,
                           clip],
                          ["ffmpeg", *inputs.QUIET, "-ss", start, "-i", clip, "-t", round(end - start, 6), "-c", "copy",
                           out / "long.mkv"], need_copy=True, warm_goal=1.2, warm_as=["--sheet-first"]))
        first = round(inputs.keyframe_near(clip, minutes * 60 / 3), 6)
        second = round(inputs.keyframe_near(clip, minutes * 60 * 2 / 3), 6)
        pairs.append(Pair(f"mkv split {minutes} min at 2 keyframes", 1.5, "<= 1.5x; warm <= 1.2x",
                          ["--tool", "split", "--set", f"splitPoints={first},{second}", "--out", out, clip],
                          ["ffmpeg", *inputs.QUIET, "-i", clip, "-map", "0", "-c", "copy", "-f", "segment",
                           "-segment_times", f"{first},{second}", "-reset_timestamps", "1", out / "part%d.mkv"],
                          need_copy=True, warm_goal=1.2, warm_as=["--sheet-first"]))
        # One picture from a keyframe of a stream decoded ahead: no copy can stop there, so it is
        # re-encoded, as ffmpeg is asked to here, and never copied to the file's end first.
        pairs.append(Pair(f"mkv trim one frame of {minutes} min", 1.5, "<= 1.5x; warm <= 1.2x",
                          ["--tool", "trim", "--set", f"trimStart={start}", "--set", f"trimEnd={start + 0.02}",
                           "--out", out, clip],
                          ["ffmpeg", *inputs.QUIET, "-ss", start, "-i", clip, "-t", 0.02, "-c:v", "libx264", "-pix_fmt",
                           "yuv420p", "-c:a", "aac", "-b:a", "192k", out / "frame.mkv"], warm_goal=1.2,
                          warm_as=["--sheet-first"]))
    if "mkv" in selected:
        minutes = inputs.env_number("KOLVEX_COMPARE_MKV720_MINUTES", 5)
        print(f"Making a {minutes}-minute 720p MKV with B-frames ...", flush=True)
        clip = inputs.mkv_720p_clip(work, minutes)
        first = round(inputs.keyframe_near(clip, minutes * 60 / 3), 6)
        second = round(inputs.keyframe_near(clip, minutes * 60 * 2 / 3), 6)
        pairs.append(Pair(f"mkv 720p split {minutes} min at 2 keyframes", 1.1, "<= 1.1x; warm <= 1.1x",
                          ["--tool", "split", "--set", f"splitPoints={first},{second}", "--out", out, clip],
                          ["ffmpeg", *inputs.QUIET, "-i", clip, "-map", "0", "-c", "copy", "-f", "segment",
                           "-segment_times", f"{first},{second}", "-reset_timestamps", "1", out / "part%d.mkv"],
                          need_copy=True, warm_goal=1.1, warm_as=["--sheet-first"]))
    if "avi" in selected:
        minutes = inputs.env_number("KOLVEX_COMPARE_AVI_MINUTES", 10)
        print(f"Making a {minutes}-minute MPEG-4/MP3 AVI ...", flush=True)
        clip = inputs.avi_clip(work, minutes)
        start = round(inputs.keyframe_near(clip, minutes * 60 / 2), 6)
        # Cold, a run pays once for loading FFmpeg's libraries, which the running app has loaded:
        # the warm rounds (after the sheet's read, as in the app) show what each request costs.
        pairs.append(Pair(f"avi trim 30 s of {minutes} min at a keyframe", 1.2, "<= 1.2x; warm <= 1.2x",
                          ["--tool", "trim", "--set", f"trimStart={start}", "--set", f"trimEnd={start + 30}",
                           "--out", out, clip],
                          ["ffmpeg", *inputs.QUIET, "-ss", start, "-i", clip, "-t", 30, "-c", "copy", out / "long.avi"],
                          need_copy=True, warm_goal=1.2, warm_as=["--sheet-first"]))
        first = round(inputs.keyframe_near(clip, minutes * 60 / 3), 6)
        second = round(inputs.keyframe_near(clip, minutes * 60 * 2 / 3), 6)
        pairs.append(Pair(f"avi split {minutes} min at 2 keyframes", 1.2, "<= 1.2x; warm <= 1.2x",
                          ["--tool", "split", "--set", f"splitPoints={first},{second}", "--out", out, clip],
                          ["ffmpeg", *inputs.QUIET, "-i", clip, "-map", "0", "-c", "copy", "-f", "segment",
                           "-segment_times", f"{first},{second}", "-reset_timestamps", "1", out / "part%d.avi"],
                          need_copy=True, warm_goal=1.2, warm_as=["--sheet-first"]))
    if "ogg" in selected:
        minutes = inputs.env_number("KOLVEX_COMPARE_OGG_MINUTES", 30)
        print(f"Making a {minutes}-minute Opus Ogg ...", flush=True)
        clip = inputs.ogg_clip(work, minutes)
        start = round(minutes * 60 * 0.93, 3)
        pairs.append(Pair(f"ogg trim 30 s at {start:.0f} s of {minutes} min", 1.2, "<= 1.2x",
                          ["--tool", "trim", "--set", f"trimStart={start}", "--set", f"trimEnd={start + 30}",
                           "--out", out, clip],
                          ["ffmpeg", *inputs.QUIET, "-ss", start, "-t", 30, "-i", clip, "-c:a", "libopus", "-b:a",
                           "192k", out / "long.ogg"]))
    if "pdf" in selected:
        first, second = (int(n) for n in os.environ.get("KOLVEX_COMPARE_PDF_PAGES", "500,261").split(","))
        print(f"Making PDFs of {first} and {second} pages ...", flush=True)
        a = inputs.text_pdf(work / "a.pdf", first, "Annual survey", 1)
        b = inputs.text_pdf(work / "b.pdf", second, "Appendix", 2)
        pairs.append(Pair(f"pdf split {first} pages", 1.0, "<= 1.0x CPU and wall", ["--tool", "split", "--out", out, a],
                          ["qpdf", "--split-pages", a, out / "a.pdf"], wall_goal=1.0))
        half = first // 2
        pairs.append(Pair(f"pdf extract {half} of {first} pages", 1.0, "<= 1.0x CPU and wall",
                          ["--tool", "extract-pages", "--set", "pageRange=" + ",".join(map(str, range(half))),
                           "--out", out, a],
                          ["qpdf", a, "--pages", ".", f"1-{half}", "--", out / "a.pdf"], wall_goal=1.0))
        pairs.append(Pair(f"pdf merge {first}+{second} pages", 1.0, "<= 1.0x",
                          ["--tool", "merge", "--out", out, a, b],
                          ["qpdf", "--empty", "--pages", a, b, "--", out / "merged.pdf"]))
        pages = inputs.env_number("KOLVEX_COMPARE_PDF_PNG_PAGES", 10)
        dpi = inputs.env_number("KOLVEX_COMPARE_PDF_PNG_DPI", 300)
        c = inputs.text_pdf(work / "c.pdf", pages, "Handbook", 3)
        pairs.append(Pair(f"pdf {pages} pages -> png {dpi} dpi", 1.0, "<= 1.0x",
                          ["--to", "png", "--set", f"dpi={dpi}", "--out", out, c],
                          ["pdftoppm", "-png", "-r", dpi, c, out / "c"]))
    if "images" in selected:
        count = inputs.env_number("KOLVEX_COMPARE_PHOTOS", 20)
        megapixels = inputs.env_number("KOLVEX_COMPARE_PHOTO_MP", 12.0)
        quality = 90
        print(f"Making {count} photos of {megapixels:g} MP ...", flush=True)
        photos = inputs.photos(work, count, megapixels, quality)
        names = "".join(f"{p}\n" for p in photos)
        xargs = ["xargs", "-P", "8", "-I", "{}"]
        pairs.append(Pair(f"{count} x {megapixels:g} MP jpg->webp q80", 0.9, "<= 0.9x",
                          ["--to", "webp", "--set", "quality=0.8", "--out", out, *photos],
                          [*xargs, "sh", "-c", f'exec vips webpsave "$1" "{out}/$(basename "$1" .jpg).webp" --Q 80',
                           "-", "{}"], peer_input=names))
        pairs.append(Pair(f"{count} x {megapixels:g} MP jpg->png", 0.9, "<= 0.9x",
                          ["--to", "png", "--out", out, *photos],
                          [*xargs, "sh", "-c", f'exec vips pngsave "$1" "{out}/$(basename "$1" .jpg).png"', "-", "{}"],
                          peer_input=names))
        # A JPEG made from a JPEG keeps the source's quality; the photos were written at `quality`.
        pairs.append(Pair(f"{count} x {megapixels:g} MP jpg->jpg max 2048", 0.9, "<= 0.9x",
                          ["--tool", "resize", "--set", "maxDimension=2048", "--out", out, *photos],
                          [*xargs, "sh", "-c",
                           f'exec vips thumbnail "$1" "{out}/$(basename "$1")[Q={quality}]" 2048 --height 2048 '
                           "--size down", "-", "{}"], peer_input=names))
    if "docs" in selected:
        sections = inputs.env_number("KOLVEX_COMPARE_DOC_SECTIONS", 12)
        print("Making the documents ...", flush=True)
        documents = inputs.documents(work, drive, sections)
        profile = (work / "soffice-profile").as_uri()
        doc_env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        for kind, path in documents.items():
            pairs.append(Pair(f"{kind} -> pdf", 0.1, "<= 0.10x (10x faster)", ["--to", "pdf", "--out", out, path],
                              ["soffice", f"-env:UserInstallation={profile}", "--headless", "--norestore",
                               "--convert-to", "pdf", "--outdir", out, path], kolvex_env=doc_env))
    return pairs


def tree_rss_mb(root_pid: int) -> float:
    """The resident memory of a process and all its descendants, summed, in MB."""
    children = {}
    rss = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
            children.setdefault(int(fields[1]), []).append(int(entry))
            rss[int(entry)] = int(fields[21]) * os.sysconf("SC_PAGE_SIZE")
        except (OSError, IndexError, ValueError):
            continue
    total, todo = 0, [root_pid]
    while todo:
        pid = todo.pop()
        total += rss.get(pid, 0)
        todo += children.get(pid, [])
    return total / 1024 / 1024


def gif_row(drive: Path, work: Path, out: Path) -> list:
    """One GIF from a long 1080p clip (60 minutes unless KOLVEX_COMPARE_GIF_MINUTES says), with
    the peak memory of the whole process tree: the driver and every ffmpeg it runs, summed,
    sampled every 0.2 s."""
    minutes = inputs.env_number("KOLVEX_COMPARE_GIF_MINUTES", 60)
    print(f"GIF from a {minutes:g}-minute 1080p clip ...", flush=True)
    clip = work / "gif-source.mp4"
    inputs.run("ffmpeg", *inputs.QUIET, "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30", "-t", minutes * 60,
               "-c:v", "libx264", "-preset", "ultrafast", "-crf", "28", "-g", "60", clip)
    fresh(out)
    cpu = children_cpu()
    start = time.monotonic()
    child = subprocess.Popen([str(drive), "--to", "gif", "--out", str(out), str(clip)], stdout=subprocess.DEVNULL)
    peak = 0.0
    while child.poll() is None:
        peak = max(peak, tree_rss_mb(child.pid))
        time.sleep(0.2)
    seconds = time.monotonic() - start
    cpu = children_cpu() - cpu
    if child.returncode != 0:
        raise Failure("the GIF failed")
    met = "met" if peak <= 1500 else "NOT met"
    return [f"gif {minutes:g} min 1080p", f"{seconds:.1f} s", f"{cpu:.1f} s", "", "", "", "", "", "", "",
            f"tree peak {peak:.0f} MB <= 1500 MB", met]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--drive", type=Path, required=True)
    parser.add_argument("--app", type=Path, required=True)
    parser.add_argument("--only", default=",".join(WORKLOADS))
    parser.add_argument("runs", type=int, nargs="?", default=5)
    args = parser.parse_args()
    selected = set(args.only.split(","))
    if not selected <= set(WORKLOADS):
        sys.exit(f"unknown workloads: {', '.join(sorted(selected - set(WORKLOADS)))}; known: {', '.join(WORKLOADS)}")
    if os.environ.get("KOLVEX_COMPARE_DOCS") == "0":
        selected.discard("docs")
    if os.environ.get("KOLVEX_COMPARE_GIF") == "0":
        selected.discard("gif")

    print(f"Machine: {machine()}")
    # A termination ends the run as an interrupt does: the work folder and every program started
    # for the tray are removed and stopped on the way out.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))
    start_load = load()
    print(f"Load average at the start: {start_load}", flush=True)
    recorder = LoadRecorder()
    recorder.__enter__()
    work = Path(tempfile.mkdtemp(prefix="kolvex-compare-", dir=os.environ.get("TMPDIR", "/tmp")))
    try:
        out = work / "out"
        rows = []
        tray_note = None
        pairs = pairs_for(selected, work, args.drive, out)
        measure(pairs, args.drive, out, args.runs, inputs.env_number("KOLVEX_COMPARE_WARMUP", 1))
        rows += [pair_row(pair) for pair in pairs]
        if "avi" in selected:
            rows.append(floor.row(args.drive, [pair for pair in pairs if pair.name.startswith("avi ")], args.runs))
        if "tray" in selected:
            try:
                tray_rows, tray_note = tray.measure(args.app, work / "tray", args.runs)
                # Its figures fill the first columns; its goal and mark go last.
                rows += [row[:-2] + [""] * (len(HEADER) - len(row)) + row[-2:] for row in tray_rows]
            except (RuntimeError, subprocess.CalledProcessError) as error:
                print(f"failed: {error}", file=sys.stderr)
                rows.append(["tray", f"FAILED: {str(error)[:60]}", *[""] * 9, "failed"])
        if "batch" in selected:
            try:
                rows += batch.measure(args.drive, work, out, args.runs)
            except (RuntimeError, subprocess.CalledProcessError) as error:
                print(f"failed: {error}", file=sys.stderr)
                rows.append(["batch", f"FAILED: {str(error)[:60]}", *[""] * 9, "failed"])
        if "gif" in selected:
            try:
                rows.append(gif_row(args.drive, work, out))
            except Failure as failure:
                rows.append(["gif", f"FAILED: {failure}", *[""] * 9, "failed"])
        end_load = load()
    except Failure as failure:
        sys.exit(f"failed: {failure}")
    finally:
        recorder.__exit__()
        shutil.rmtree(work, ignore_errors=True)

    print()
    print(f"Medians/minimums of {args.runs} rounds, wall and CPU seconds of whole process trees "
          f"(warm: rounds 2..{WARM_REPEATS} inside one driver); {machine()}")
    print_table(rows)
    notes = []
    for pair in pairs:
        kolvex_bytes, peer_bytes = pair.sizes
        mode = "/".join(sorted(pair.modes))
        notes.append(f"  {pair.name}: kolvex results {mode}; outputs {kolvex_bytes / 1e3:,.0f} kB (kolvex), "
                     f"{peer_bytes / 1e3:,.0f} kB (peer)")
    if notes:
        print("Outputs of the last round:")
        print("\n".join(notes))
    if tray_note:
        print(tray_note)
    print(f"Load average (1, 5, 15 min) at the start: {start_load}; at the end: {end_load}")
    print(f"Load average (1 min) through the run: {recorder.summary()}")
    if any(row[-1] == "failed" for row in rows):
        sys.exit(1)


if __name__ == "__main__":
    main()
