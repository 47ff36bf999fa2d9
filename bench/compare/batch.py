# SPDX-License-Identifier: GPL-3.0-or-later
"""The memory and time of a large image batch: COUNT photos of 12 MP (JPEG q90) -> WebP q80 in one
`kolvex-drive` against the same `vips webpsave` through `xargs -P8` (eight vips processes at
once). Two sets of photos: film grain (what a camera makes) and heavy noise (what libwebp needs
the most memory for). Kolvex's peak is the driver's own maximum resident size (from the kernel,
exact); the peer's is the resident size of its whole process tree, summed and sampled every 50 ms.
The goal: Kolvex's wall time no more than the peer's and its peak no more than two thirds of
the peer's summed peak, medians of RUNS rounds taken in turns."""
import os
import statistics
import subprocess
import time
from pathlib import Path

import inputs

GOAL_PEAK = 2 / 3
GOAL_WALL = 1.0


def tree_rss_mb(root_pid: int) -> float:
    """The resident memory of a process and all its descendants, summed, in MB."""
    children, rss = {}, {}
    page = os.sysconf("SC_PAGE_SIZE")
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
            children.setdefault(int(fields[1]), []).append(int(entry))
            rss[int(entry)] = int(fields[21]) * page
        except (OSError, IndexError, ValueError):
            continue
    total, todo = 0, [root_pid]
    while todo:
        pid = todo.pop()
        total += rss.get(pid, 0)
        todo += children.get(pid, [])
    return total / 1024 / 1024


def run_sampled(command, stdin_text=None):
    """(wall seconds, peak MB) of a command: its own maximum resident size from wait4, and the
    summed resident size of its tree sampled every 50 ms; the larger of the two."""
    start = time.monotonic()
    child = subprocess.Popen([str(a) for a in command], stdin=subprocess.PIPE if stdin_text else None,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if stdin_text:
        child.stdin.write(stdin_text)
        child.stdin.close()
    peak = 0.0
    while True:
        pid, status, usage = os.wait4(child.pid, os.WNOHANG)
        if pid == child.pid:
            break
        peak = max(peak, tree_rss_mb(child.pid))
        time.sleep(0.05)
    seconds = time.monotonic() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        raise RuntimeError(f"{' '.join(map(str, command))} failed: {child.stderr.read()[-400:]}")
    return seconds, max(peak, usage.ru_maxrss / 1024)


def photo_set(work: Path, name: str, count: int, grain: int) -> list:
    folder = work / f"batch-{name}"
    folder.mkdir()
    inputs.run("ffmpeg", *inputs.QUIET, "-f", "lavfi", "-i", "testsrc2=size=4000x3000:rate=1", "-frames:v", count,
               "-vf", f"noise=alls={grain}:allf=u", folder / "photo%02d.ppm")
    made = []
    for frame in sorted(folder.glob("*.ppm")):
        jpeg = frame.with_suffix(".jpg")
        inputs.run("vips", "jpegsave", frame, jpeg, "--Q", 90)
        frame.unlink()
        made.append(jpeg)
    return made


def measure(drive: Path, work: Path, out: Path, runs: int) -> list:
    """Table rows, one per set of photos: figures in the first columns, goal and mark last."""
    count = inputs.env_number("KOLVEX_COMPARE_BATCH_PHOTOS", 80)
    rows = []
    for name, grain in (("grain", 12), ("noise", 60)):
        print(f"Making {count} photos of 12 MP ({name}) ...", flush=True)
        photos = photo_set(work, name, count, grain)
        names = "".join(f"{p}\n" for p in photos)
        kolvex = [drive, "--to", "webp", "--set", "quality=0.8", "--out", out, *photos]
        peer = ["xargs", "-P", "8", "-I", "{}", "sh", "-c",
                f'exec vips webpsave "$1" "{out}/$(basename "$1" .jpg).webp" --Q 80', "-", "{}"]
        sides = {"kolvex": ([], []), "peer": ([], [])}
        for round_ in range(runs + 1):  # the first round warms the caches and is not kept
            order = ("kolvex", "peer") if round_ % 2 == 0 else ("peer", "kolvex")
            for side in order:
                subprocess.run(["rm", "-rf", str(out)], check=True)
                out.mkdir(parents=True)
                seconds, peak = run_sampled(kolvex) if side == "kolvex" else run_sampled(peer, names)
                if round_ > 0:
                    sides[side][0].append(seconds)
                    sides[side][1].append(peak)
        median = statistics.median
        k_wall, k_peak = median(sides["kolvex"][0]), median(sides["kolvex"][1])
        p_wall, p_peak = median(sides["peer"][0]), median(sides["peer"][1])
        met = k_wall <= p_wall * GOAL_WALL and k_peak <= p_peak * GOAL_PEAK
        rows.append([f"{count} x 12 MP jpg->webp ({name}) memory", f"{k_wall:.2f}/{min(sides['kolvex'][0]):.2f}",
                     f"peak {k_peak:.0f} MB", "", "", f"{p_wall:.2f}/{min(sides['peer'][0]):.2f}",
                     f"peak {p_peak:.0f} MB", f"{k_wall / p_wall:.2f}x", f"peak {k_peak / p_peak:.2f}x", "",
                     "wall <= 1.0x; peak <= 2/3 of vips -P8", "met" if met else "NOT met"])
        subprocess.run(["rm", "-rf", str(work / f"batch-{name}")], check=True)
    return rows
