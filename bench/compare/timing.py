# SPDX-License-Identifier: GPL-3.0-or-later
"""How the comparison times a command: wall seconds and the CPU seconds of its whole process
tree (the program and every program it waited for), and how it prints a set of them."""
import resource
import statistics
import subprocess
import time


def children_cpu() -> float:
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def timed(command, **kwargs):
    """Runs a command to its end: (wall seconds, CPU seconds of its whole tree, the result)."""
    cpu = children_cpu()
    start = time.monotonic()
    done = subprocess.run([str(a) for a in command], **kwargs)
    return time.monotonic() - start, children_cpu() - cpu, done


def spread(times) -> str:
    return f"{statistics.median(times):.3f}/{min(times):.3f}"
