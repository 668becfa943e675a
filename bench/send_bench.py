#!/usr/bin/env python3
"""Times veldconf-send over a pseudo-terminal: the largest configuration
(129 lines) sent to tests/module_sim.py, which answers at once.

usage: bench/send_bench.py [BUILD] [RUNS]   (defaults build/release, 5)

Prints, for each run and as medians, the wall time per line (less the
settle time after the probe, the one wait of the sender's own, which is
given apart) and the sender's own CPU time (user + system) per line.
"""
import os
import pathlib
import re
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent


def settle_seconds():
    text = (ROOT / "src" / "link" / "dialogue.hpp").read_text()
    return int(re.search(r"settle_ms = (\d+);", text).group(1)) / 1000


def one_run(send, lines, device):
    start = time.monotonic()
    proc = subprocess.Popen([send, "--quiet", device], stdin=subprocess.PIPE)
    proc.stdin.write(lines)
    proc.stdin.close()
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - start
    if status != 0:
        sys.exit(f"veldconf-send failed (wait status {status})")
    return wall, usage.ru_utime + usage.ru_stime


def main():
    build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build/release")
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    text = "a" * 65535
    lines = subprocess.run([build / "veldconf", "-p", "5683", "-i", text, "-n", text],
                           capture_output=True, check=True).stdout
    count = lines.count(b"\r\n")
    settle = settle_seconds()
    with tempfile.TemporaryDirectory() as work:
        sim = subprocess.Popen([sys.executable, ROOT / "tests" / "module_sim.py",
                                "--record", os.path.join(work, "received")],
                               stdout=subprocess.PIPE)
        device = sim.stdout.readline().decode().strip()
        walls, cpus = [], []
        try:
            for run in range(runs):
                wall, cpu = one_run(build / "veldconf-send", lines, device)
                walls.append((wall - settle) / count * 1000)
                cpus.append(cpu / count * 1000)
                print(f"run {run + 1}: {walls[-1]:.3f} ms wall, {cpus[-1]:.4f} ms CPU per line")
        finally:
            sim.terminate()
            sim.wait()
    print(f"{count} lines, settle {settle * 1000:.0f} ms apart; medians: "
          f"{statistics.median(walls):.3f} ms wall, {statistics.median(cpus):.4f} ms CPU per line")


if __name__ == "__main__":
    main()
