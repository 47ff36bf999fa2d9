# SPDX-License-Identifier: GPL-3.0-or-later
"""The resident application: launch time, idle memory and CPU, memory after conversions.

The real `kolvex` program runs on its own Xvfb display, with `trayer` as the system tray, its own
session bus and a fresh HOME and XDG_CONFIG_HOME (the welcome window marked as already shown, as
for anyone past their first launch).

- Launch -> tray icon: from starting the program to the moment its tray icon window sits inside
  the tray (seen by polling `xwininfo -root -tree` every 5 ms: the icon's window, class "kolvex",
  three levels under the root, is there only once the tray has embedded it). Measured on RUNS
  launches, each with a fresh home.
- Idle: after the icon shows, the program is left alone for KOLVEX_COMPARE_IDLE seconds (60); the
  CPU it used over that time (utime + stime from /proc/PID/stat) and then its RSS and PSS
  (/proc/PID/smaps_rollup).
- After conversions: KOLVEX_COMPARE_CONVERSIONS (20) files, one at a time, are opened with a
  second `kolvex <file>` (which hands them to the running copy over the session bus, as a file
  manager does; the Portal opens in keyboard mode with its first target chosen), Return is pressed
  (xdotool) and the output awaited next to the file; the files cycle through a photo, a PNG, a
  Markdown document, a PDF and a short video, so every engine runs. After KOLVEX_COMPARE_SETTLE
  seconds (15) of quiet, RSS and PSS again.
- The Portal per drop: a small PNG handed to the running program, Return pressed once the Portal
  shows, and the program's own CPU (utime + stime) from the hand-over to the moment the Portal
  window is no longer viewable; one drop untimed, then RUNS drops, median and minimum.
"""
import os
import signal
import subprocess
import time
from pathlib import Path

import inputs

ICON_CLASS = '("kolvex" "Kolvex")'


def env_number(name, default):
    return inputs.env_number(name, default)


class Desktop:
    """Xvfb, a session bus and a system tray, stopped (in reverse order) on leaving."""

    def __init__(self, work: Path):
        self.work = work
        self.processes = []

    def __enter__(self):
        read, write = os.pipe()
        self.processes.append(subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1920x1080x24", "-nolisten", "tcp"],
            pass_fds=[write], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        os.close(write)
        with os.fdopen(read) as display:
            number = display.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address"], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL,
                               text=True)
        self.processes.append(bus)
        address = bus.stdout.readline().strip()
        self.env = dict(os.environ, DISPLAY=f":{number}", DBUS_SESSION_BUS_ADDRESS=address, QT_QPA_PLATFORM="xcb",
                        KOLVEX_LOG="stderr")
        self.env.pop("WAYLAND_DISPLAY", None)
        self.processes.append(subprocess.Popen(
            ["trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24"],
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        deadline = time.monotonic() + 10
        while '("panel" "trayer")' not in self.tree():
            if time.monotonic() > deadline:
                raise RuntimeError("the tray did not start")
            time.sleep(0.05)
        return self

    def __exit__(self, *exc):
        for process in reversed(self.processes):
            process.terminate()
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()

    def tree(self) -> str:
        return subprocess.run(["xwininfo", "-root", "-tree"], env=self.env, capture_output=True, text=True).stdout

    def icon_shown(self) -> bool:
        return any(line.startswith(" " * 11) and ICON_CLASS in line for line in self.tree().splitlines())

    def home(self, name: str) -> dict:
        home = self.work / name
        config = home / ".config"
        (config / "kolvex").mkdir(parents=True)
        (config / "kolvex" / "defaults.json").write_text(
            '{"KolvexDidShowWelcome": {"type": "bool", "value": true},'
            ' "KolvexLoginItemOffered": {"type": "bool", "value": true}}')
        return dict(self.env, HOME=str(home), XDG_CONFIG_HOME=str(config), XDG_CACHE_HOME=str(home / ".cache"),
                    XDG_DATA_HOME=str(home / ".local" / "share"))

    def launch(self, app: Path, env: dict, log: Path):
        """Starts the program; returns it and the seconds until its tray icon was embedded."""
        with open(log, "w") as out:
            start = time.monotonic()
            process = subprocess.Popen([str(app)], env=env, stdout=out, stderr=subprocess.STDOUT)
        while not self.icon_shown():
            if process.poll() is not None:
                raise RuntimeError(f"kolvex ended at launch; see {log.read_text()}")
            if time.monotonic() - start > 30:
                stop(process)
                raise RuntimeError("no tray icon after 30 s")
            time.sleep(0.005)
        return process, time.monotonic() - start


def stop(process):
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def memory(pid: int):
    """RSS and PSS in MB."""
    values = memory_parts(pid)
    return values["Rss"], values["Pss"]


def memory_parts(pid: int) -> dict:
    """Every field of smaps_rollup (Rss, Pss, Anonymous, ...) in MB."""
    values = {}
    with open(f"/proc/{pid}/smaps_rollup") as rollup:
        for line in rollup:
            key, _, rest = line.partition(":")
            fields = rest.split()
            if len(fields) == 2 and fields[1] == "kB":
                values[key] = int(fields[0]) / 1024
    return values


def cpu_seconds(pid: int) -> float:
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def sources(work: Path) -> list:
    folder = work / "sources"
    folder.mkdir(parents=True)
    photo = inputs.photos(folder, 1, 2.0, 90)[0]
    png = folder / "card.png"
    inputs.run("vips", "copy", photo, png)
    md = folder / "notes.md"
    md.write_text(inputs.markdown_text(2), encoding="utf-8")
    pdf = inputs.text_pdf(folder / "pages.pdf", 5, "Minutes", 3)
    clip = folder / "clip.mp4"
    inputs.run("ffmpeg", *inputs.QUIET, "-f", "lavfi", "-i", "testsrc2=size=640x360:rate=30", "-f", "lavfi", "-i",
               "sine=frequency=440:sample_rate=48000", "-t", "5", "-c:v", "libx264", "-preset", "ultrafast",
               "-c:a", "aac", clip)
    return [photo, png, md, pdf, clip]


def small_png(folder: Path) -> Path:
    """A 320 x 240 picture as PNG: a conversion of a few milliseconds."""
    png = folder / "small.png"
    inputs.run("ffmpeg", *inputs.QUIET, "-f", "lavfi", "-i", "testsrc2=size=320x240", "-frames:v", "1", png)
    return png


def convert(app: Path, env: dict, source: Path, index: int, timeout: float = 120):
    """Hands a copy of `source` to the running program, chooses the first target and waits for its
    output; returns the seconds from the hand-over to the output, and what was made
    ("jpg->png")."""
    folder = source.parent.parent / f"run{index:02d}"
    folder.mkdir()
    file = folder / source.name
    file.write_bytes(source.read_bytes())
    start = time.monotonic()
    subprocess.run([str(app), str(file)], env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    press_at = start + 0.3
    while True:
        outputs = [p for p in folder.iterdir() if p.name != file.name and not p.name.startswith(".")]
        if outputs:
            return time.monotonic() - start, f"{file.suffix[1:]}->{outputs[0].suffix[1:]}"
        now = time.monotonic()
        if now - start > timeout:
            raise RuntimeError(f"no output for {file} after {timeout:.0f} s")
        if now >= press_at:
            # Once the Portal has the focus it takes the key; a Return that comes while a run
            # is already shown does nothing, so one is pressed again after a quiet while.
            subprocess.run(["xdotool", "key", "Return"], env=env, check=False)
            press_at = now + 3
        time.sleep(0.02)


def portal_shown(env: dict) -> bool:
    info = subprocess.run(["xwininfo", "-name", "Kolvex Portal"], env=env, capture_output=True, text=True).stdout
    return "IsViewable" in info


def portal_drop(app: Path, pid: int, env: dict, source: Path, index: int, timeout: float = 30):
    """Hands a copy of `source` to the running program, presses Return once the Portal shows and
    waits until the Portal has gone; returns the program's CPU seconds over that time and the
    seconds it took."""
    folder = source.parent.parent / f"drop{index:02d}"
    folder.mkdir()
    file = folder / source.name
    file.write_bytes(source.read_bytes())
    cpu_start, start = cpu_seconds(pid), time.monotonic()
    subprocess.run([str(app), str(file)], env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    pressed = False
    while True:
        shown = portal_shown(env)
        if time.monotonic() - start > timeout:
            raise RuntimeError(f"the Portal for {file} did not come and go in {timeout:.0f} s")
        if shown and not pressed:
            time.sleep(0.3)  # mapped and focused
            subprocess.run(["xdotool", "key", "Return"], env=env, check=False)
            pressed = True
        elif not shown and pressed:
            break
        time.sleep(0.02)
    cpu, seconds = cpu_seconds(pid) - cpu_start, time.monotonic() - start
    if not [p for p in folder.iterdir() if p.name != file.name and not p.name.startswith(".")]:
        raise RuntimeError(f"the drop of {file} wrote nothing")
    return cpu, seconds


def measure(app: Path, work: Path, runs: int):
    """The table's rows and a line saying which conversions ran."""
    idle = env_number("KOLVEX_COMPARE_IDLE", 60)
    conversions = env_number("KOLVEX_COMPARE_CONVERSIONS", 20)
    # The memory goal holds a minute after the last job.
    settle = env_number("KOLVEX_COMPARE_SETTLE", 60)
    work.mkdir(parents=True)
    made = sources(work)
    small = small_png(work / "sources")
    print(f"Tray: {runs} launches, {idle} s idle, {conversions} conversions ...", flush=True)
    with Desktop(work) as desktop:
        launches = []
        for run in range(runs):
            process, seconds = desktop.launch(app, desktop.home(f"launch{run}"), work / f"launch{run}.log")
            launches.append(seconds)
            stop(process)
        env = desktop.home("resident")
        process, seconds = desktop.launch(app, env, work / "resident.log")
        launches.append(seconds)
        try:
            time.sleep(2)  # the background start-up work (the encoder list) is done by then
            cpu_start, clock = cpu_seconds(process.pid), time.monotonic()
            time.sleep(idle)
            cpu = (cpu_seconds(process.pid) - cpu_start) / (time.monotonic() - clock) * 100
            rss, pss = memory(process.pid)
            drops = [portal_drop(app, process.pid, env, small, index) for index in range(runs + 1)][1:]
            times = []
            kinds = {}
            for index in range(conversions):
                seconds, kind = convert(app, env, made[index % len(made)], index)
                times.append(seconds)
                kinds[kind] = kinds.get(kind, 0) + 1
            time.sleep(settle)
            parts = memory_parts(process.pid)
            rss_after, pss_after, anon_after = parts["Rss"], parts["Pss"], parts.get("Anonymous", 0)
        finally:
            stop(process)
    launches_ms = sorted(1000 * s for s in launches)
    median = launches_ms[len(launches_ms) // 2]
    mark = lambda ok: "met" if ok else "NOT met"  # noqa: E731
    made = ", ".join(f"{count} x {kind}" for kind, count in kinds.items())
    drop_cpu = sorted(cpu for cpu, _ in drops)
    drop_life = sorted(seconds for _, seconds in drops)
    drop_median = drop_cpu[len(drop_cpu) // 2]
    return [
        ["tray launch -> icon (ms)", f"{median:.0f}/{launches_ms[0]:.0f}", "", "", "", "", "<= 120 ms quiet",
         mark(median <= 120)],
        [f"tray idle {idle} s", f"RSS {rss:.1f} MB, PSS {pss:.1f} MB", f"CPU {cpu:.2f} %", "", "", "", "RSS <= 45 MB",
         mark(rss <= 45)],
        [f"tray {settle} s after {conversions} conversions",
         f"RSS {rss_after:.1f} MB, PSS {pss_after:.1f} MB, anon {anon_after:.1f} MB", f"{sum(times):.1f} s in all", "",
         f"{rss_after / rss:.2f}x the idle RSS", "", "anon <= 25 MB, RSS <= 2x idle",
         mark(anon_after <= 25 and rss_after <= 2 * rss)],
        ["tray Portal per PNG drop (CPU s)", f"{drop_median:.2f}/{drop_cpu[0]:.2f}",
         f"shown {drop_life[len(drop_life) // 2]:.1f} s", "", "", "", "<= 0.25 s of the tray's CPU",
         mark(drop_median <= 0.25)],
    ], f"tray conversions (the Portal's first target for each): {made}"
