#!/usr/bin/env python3
"""Times veldconf-provision over pseudo-terminals: sixteen simulated modules,
each answering every command after 10 ms and each given the largest
configuration (129 lines: a 65535-byte URI and a name made 65535 bytes long
by a literal part of --name), against one such module alone; standard
error is a pseudo-terminal, so that the live view is drawn as an operator
would see it.

usage: bench/provision_bench.py [BUILD] [MODULES]   (defaults build/release, 16)

Prints the wall time of each run, their ratio (target: at most 1.5) and the
program's own CPU time (user + system) per line sent.
"""
import os
import pathlib
import pty
import subprocess
import sys
import tempfile
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
NAME = "x" * (65535 - len("490154203237511;310150123456789")) + "{imei};{imsi}"


def drain(fd):
    """Reads the terminal's side of the view until it closes."""
    try:
        while os.read(fd, 65536):
            pass
    except OSError:
        pass


def run(build, count, work):
    sims = [subprocess.Popen([sys.executable, ROOT / "tests" / "module_sim.py", "--record",
                              os.path.join(work, f"received{i}"), "delay=0.01",
                              f"cgsn=4901542032375{i + 10:02d}"], stdout=subprocess.PIPE)
            for i in range(count)]
    try:
        devices = [s.stdout.readline().decode().strip() for s in sims]
        terminal, view = pty.openpty()
        reader = threading.Thread(target=drain, args=(terminal,))
        reader.start()
        start = time.monotonic()
        proc = subprocess.Popen([build / "veldconf-provision", "--name", NAME] + devices
                                + ["--", "-p", "5683", "-i", "u" * 65535], stdout=subprocess.PIPE, stderr=view)
        os.close(view)
        out = proc.stdout.read()
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.monotonic() - start
        reader.join()
        os.close(terminal)
    finally:
        for s in sims:
            s.terminate()
            s.wait()
    if status != 0 or out.count(b"\tconfigured\t129/129\t") != count:
        sys.exit(f"veldconf-provision failed (wait status {status}):\n{out.decode()}")
    return wall, (usage.ru_utime + usage.ru_stime) / (129 * count) * 1000


def main():
    build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build/release")
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 16
    with tempfile.TemporaryDirectory() as work:
        alone, alone_cpu = run(build, 1, work)
        together, cpu = run(build, count, work)
    print(f"one module: {alone:.2f} s ({alone_cpu:.4f} ms CPU per line); {count} modules: "
          f"{together:.2f} s ({cpu:.4f} ms CPU per line); ratio {together / alone:.2f}")


if __name__ == "__main__":
    main()
