"""Kolvex against the bare tools, side by side on inputs made for the run; bench/compare.sh
installs the reference programs, builds Kolvex and calls this. See compare.sh for the workloads.

Each pair runs once untimed (warm caches for both sides), then RUNS rounds; in each round every
pair runs both contenders, the order flipping from one round to the next. Kolvex's "process"
time is the whole `kolvex-drive` command, its "internal" time the wall time the driver reports
for the request (engines already loaded); the peer's time is always its whole command. A ratio
is Kolvex's median over the peer's median; a goal is met when the process ratio is at or under
it.
"""
import argparse
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import inputs  # noqa: E402
import tray  # noqa: E402

WORKLOADS = ("remux", "trim", "pdf", "images", "docs", "tray", "gif")


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
    kolvex_times: list = field(default_factory=list)
    internal_times: list = field(default_factory=list)
    peer_times: list = field(default_factory=list)
    modes: set = field(default_factory=set)
    sizes: tuple = (0, 0)
    failure: str = None  # why the pair stopped, when one of its runs failed


def folder_bytes(folder: Path) -> int:
    return sum(p.stat().st_size for p in folder.rglob("*") if p.is_file())


def fresh(folder: Path):
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)


def run_kolvex(drive: Path, pair: Pair, out: Path):
    fresh(out)
    start = time.monotonic()
    done = subprocess.run([str(drive), *map(str, pair.kolvex)], capture_output=True, text=True,
                          env=pair.kolvex_env)
    seconds = time.monotonic() - start
    if done.returncode != 0:
        raise Failure(f"kolvex-drive {' '.join(map(str, pair.kolvex))}\n{done.stdout}{done.stderr}")
    rows = [line.split("\t") for line in done.stdout.splitlines()]
    internal = next(float(row[1]) for row in rows if row[0] == "wall")
    modes = {row[2] for row in rows if row[0] == "ok"}
    if pair.need_copy and modes != {"copy"}:
        raise Failure(f"not a stream copy: kolvex-drive {' '.join(map(str, pair.kolvex))}\n{done.stdout}")
    pair.modes |= modes
    return seconds, internal


def run_peer(pair: Pair, out: Path) -> float:
    fresh(out)
    start = time.monotonic()
    done = subprocess.run([str(a) for a in pair.peer], input=pair.peer_input, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True)
    seconds = time.monotonic() - start
    if done.returncode != 0:
        raise Failure(f"{' '.join(map(str, pair.peer))}\n{done.stderr}")
    return seconds


def measure_once(pair: Pair, drive: Path, out: Path, sides, record: bool):
    try:
        for side in sides:
            if side == "kolvex":
                seconds, internal = run_kolvex(drive, pair, out)
                kolvex_bytes = folder_bytes(out)
                if record:
                    pair.kolvex_times.append(seconds)
                    pair.internal_times.append(internal)
            else:
                seconds = run_peer(pair, out)
                peer_bytes = folder_bytes(out)
                if record:
                    pair.peer_times.append(seconds)
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


def spread(times) -> str:
    return f"{statistics.median(times):.3f}/{min(times):.3f}"


def pair_row(pair: Pair) -> list:
    if pair.failure:
        return [pair.name, "FAILED: " + pair.failure.splitlines()[-1][:60], "", "", "", "", pair.goal_text, "failed"]
    ours = statistics.median(pair.kolvex_times)
    internal = statistics.median(pair.internal_times)
    theirs = statistics.median(pair.peer_times)
    met = "met" if ours / theirs <= pair.goal else "NOT met"
    return [pair.name, spread(pair.kolvex_times), spread(pair.internal_times), spread(pair.peer_times),
            f"{ours / theirs:.2f}x", f"{internal / theirs:.2f}x", pair.goal_text, met]


def print_table(rows):
    header = ["workload", "kolvex process", "kolvex internal", "peer", "ratio process", "ratio internal", "goal",
              "mark"]
    widths = [max(len(str(row[i])) for row in [header, *rows]) for i in range(len(header))]
    for row in [header, ["-" * w for w in widths], *rows]:
        print("  ".join(str(cell).ljust(width) for cell, width in zip(row, widths)).rstrip())


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
        pairs.append(Pair(f"remux {clip.stat().st_size / 1e6:.0f} MB mp4->mkv", 1.05, "<= 1.05x",
                          ["--to", "mkv", "--ring", "--out", out, clip],
                          ["ffmpeg", *inputs.QUIET, "-i", clip, "-c", "copy", out / "remux.mkv"],
                          kolvex_env=ring_env, need_copy=True))
    if "trim" in selected:
        minutes = inputs.env_number("KOLVEX_COMPARE_TRIM_MINUTES", 60)
        print(f"Making a {minutes}-minute MP4 ...", flush=True)
        clip = inputs.long_clip(work, minutes)
        # Both cut at a keyframe half-way through, where a copy can start.
        start = round(inputs.keyframe_near(clip, minutes * 60 / 2), 6)
        pairs.append(Pair(f"trim 30 s of {minutes} min", 1.2, "<= 1.2x",
                          ["--tool", "trim", "--set", f"trimStart={start}", "--set", f"trimEnd={start + 30}",
                           "--out", out, clip],
                          ["ffmpeg", *inputs.QUIET, "-ss", start, "-i", clip, "-t", 30, "-c", "copy",
                           out / "long.mp4"]))
    if "pdf" in selected:
        first, second = (int(n) for n in os.environ.get("KOLVEX_COMPARE_PDF_PAGES", "500,261").split(","))
        print(f"Making PDFs of {first} and {second} pages ...", flush=True)
        a = inputs.text_pdf(work / "a.pdf", first, "Annual survey", 1)
        b = inputs.text_pdf(work / "b.pdf", second, "Appendix", 2)
        pairs.append(Pair(f"pdf split {first} pages", 1.0, "<= 1.0x", ["--tool", "split", "--out", out, a],
                          ["qpdf", "--split-pages", a, out / "a.pdf"]))
        pairs.append(Pair(f"pdf merge {first}+{second} pages", 1.0, "<= 1.0x",
                          ["--tool", "merge", "--out", out, a, b],
                          ["qpdf", "--empty", "--pages", a, b, "--", out / "merged.pdf"]))
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


def gif_row(drive: Path, work: Path, out: Path) -> list:
    """One GIF from a 5-minute 1080p clip, with the peak memory of the driver and every program
    it waited for (wait4 reports the largest of them)."""
    print("GIF from a 5-minute 1080p clip ...", flush=True)
    clip = work / "gif-source.mp4"
    inputs.run("ffmpeg", *inputs.QUIET, "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30", "-t", "300",
               "-c:v", "libx264", "-preset", "ultrafast", "-crf", "28", "-g", "60", clip)
    fresh(out)
    start = time.monotonic()
    child = subprocess.Popen([str(drive), "--to", "gif", "--out", str(out), str(clip)], stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    seconds = time.monotonic() - start
    if child.returncode != 0:
        raise Failure("the GIF failed")
    peak = usage.ru_maxrss / 1024
    met = "met" if peak <= 1500 else "NOT met"
    return ["gif 5 min 1080p", f"{seconds:.1f} s, peak {peak:.0f} MB", "", "", "", "", "<= 1500 MB for 60 min", met]


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
    work = Path(tempfile.mkdtemp(prefix="kolvex-compare-", dir=os.environ.get("TMPDIR", "/tmp")))
    try:
        out = work / "out"
        rows = []
        tray_note = None
        pairs = pairs_for(selected, work, args.drive, out)
        measure(pairs, args.drive, out, args.runs, inputs.env_number("KOLVEX_COMPARE_WARMUP", 1))
        rows += [pair_row(pair) for pair in pairs]
        if "tray" in selected:
            try:
                tray_rows, tray_note = tray.measure(args.app, work / "tray", args.runs)
                rows += tray_rows
            except (RuntimeError, subprocess.CalledProcessError) as error:
                print(f"failed: {error}", file=sys.stderr)
                rows.append(["tray", f"FAILED: {str(error)[:60]}", "", "", "", "", "", "failed"])
        if "gif" in selected:
            try:
                rows.append(gif_row(args.drive, work, out))
            except Failure as failure:
                rows.append(["gif 5 min 1080p", f"FAILED: {failure}", "", "", "", "", "", "failed"])
        end_load = load()
    except Failure as failure:
        sys.exit(f"failed: {failure}")
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print()
    print(f"Medians/minimums of {args.runs} rounds, seconds (peers: whole commands); {machine()}")
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
    if any(row[-1] == "failed" for row in rows):
        sys.exit(1)


if __name__ == "__main__":
    main()
