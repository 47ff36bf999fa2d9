# SPDX-License-Identifier: GPL-3.0-or-later
"""The floor of a cold AVI cut's ratio, as one line of the comparison's table."""
import statistics
import subprocess
from pathlib import Path

from timing import spread, timed


def row(drive: Path, cuts, runs: int) -> list:
    """What no change of Kolvex's takes off a cold AVI cut: its own process started with
    FFmpeg's libraries loaded (`kolvex-drive --load media`, which every first media job pays)
    and then an ffmpeg run doing the peer's own work. So a cut's cold CPU ratio is never under
    (load + peer) / peer, its floor. ffmpeg's start (`ffmpeg -hide_banner -version`) beside it
    shows how much of every ffmpeg run, the peer's too, is the program's start alone."""
    load, load_wall, start, start_wall = [], [], [], []
    for _ in range(max(runs, 5)):
        seconds, cpu, done = timed([drive, "--load", "media"], capture_output=True, text=True)
        if done.returncode != 0:
            return ["avi floor", f"FAILED: {done.stderr.strip()[:60]}", *[""] * 9, "failed"]
        load.append(cpu)
        load_wall.append(seconds)
        seconds, cpu, _ = timed(["ffmpeg", "-hide_banner", "-version"], stdout=subprocess.DEVNULL)
        start.append(cpu)
        start_wall.append(seconds)
    median = statistics.median
    floors = [f"{pair.name.split()[1]} {(median(load) + median(pair.peer_cpu)) / median(pair.peer_cpu):.2f}x"
              for pair in cuts if pair.peer_cpu and not pair.failure]
    return ["avi floor: load vs ffmpeg start", spread(load_wall), spread(load), "", "", spread(start_wall),
            spread(start), "", "", "", "cold floor: " + ", ".join(floors), "info"]
