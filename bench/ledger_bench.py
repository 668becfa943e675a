#!/usr/bin/env python3
"""Times veldconf-ledger against a PostgreSQL server of its own (started
with tests/ledger_server.sh, as the tests start theirs): a manifest of
100,000 rows into a lot, a report of 100,000 objects synced, and the
status of a lot of 1,000,000 results (ten such reports); then a station
of sixteen simulated modules answering after 10 ms, with the ledger (a
lot of its own each run) and without it, five runs each, each module given
the largest configuration (129 lines), as bench/provision_bench.py gives it.

usage: bench/ledger_bench.py [BUILD]   (default build/release)

Targets: the manifest under 5 s, the sync under 10 s, the status under 1 s,
the station with the ledger within 1.05 times its time without.
"""
import statistics
import os
import pathlib
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
SERVER = ROOT / "tests" / "ledger_server.sh"
ROWS = 100000
# The largest configuration, 129 lines, as bench/provision_bench.py sends.
NAME = "x" * (65535 - len("490154203237511;310150123456789")) + "{imei};{imsi}"


def report_line(run, number, imei):
    name = f"{imei};310150123456789"
    return ('{"object": "%s/%d", "device": "/dev/ttyUSB%d", "imei": "%d", "imsi": "310150123456789", '
            '"endpoint": "%s", "command": "veldconf -b 0 -e 0 -d 0 -p 5683 -t 300 -i coap://192.0.2.10 '
            "-n '%s' -u 5 -g 5 -x 2\", \"lines\": 1, \"acknowledged\": 1, \"result\": \"%s\", "
            '"reason": null, "started": "2026-12-11T%02d:%02d:%02d.%03dZ", "seconds": 0.412, '
            '"station": "bench-%d", "operator": null, "run": "%s", "version": "1.2", "transcript": null, '
            '"slot": null}\n') % (run, number, number % 8, imei, name, name,
                                  "failed" if number % 50 == 0 else "configured",
                                  number // 3600000 % 24, number // 60000 % 60, number // 1000 % 60, number % 1000,
                                  number % 4, run)


def timed(command, env):
    start = time.monotonic()
    subprocess.run(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return time.monotonic() - start


def station_runs(build, env, work):
    """The median wall time of five station runs without the ledger and
    five with it."""
    sims = [subprocess.Popen([sys.executable, "-S", ROOT / "tests" / "module_sim.py", "--record",
                              os.path.join(work, f"received{i}"), "delay=0.01", f"cgsn=4901542032375{i + 10:02d}"],
                             stdout=subprocess.PIPE) for i in range(16)]
    try:
        devices = [s.stdout.readline().decode().strip() for s in sims]
        times = {"without": [], "with": []}
        for n in range(5):
            for way in ("without", "with"):
                ledger = []
                if way == "with":
                    subprocess.run([build / "veldconf-ledger", "lot", f"S{n}"], env=env, stdout=subprocess.DEVNULL,
                                   check=True)
                    ledger = ["--ledger", "", "--lot", f"S{n}"]
                report = os.path.join(work, f"station-{way}-{n}.jsonl")  # a shift's first run
                times[way].append(timed([build / "veldconf-provision", "--name", NAME, "--report", report] + ledger +
                                        devices + ["--", "-p", "5683", "-i", "u" * 65535], env))
    finally:
        for s in sims:
            s.terminate()
            s.wait()
    return statistics.median(times["without"]), statistics.median(times["with"])


def main():
    build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ROOT / "build" / "release")
    ledger = [str(build / "veldconf-ledger")]
    with tempfile.TemporaryDirectory() as work:
        state = os.path.join(work, "server")
        subprocess.run(["bash", SERVER, "start", state], check=True)
        try:
            with open(os.path.join(state, "conninfo")) as f:
                server = f.read().strip()
            env = dict(os.environ, PGPASSFILE=os.path.join(state, "pgpass"))
            subprocess.run(["psql", server, "-qXc", "CREATE DATABASE bench"], env=env, check=True)
            env["VELDCONF_LEDGER"] = server.replace("dbname=postgres", "dbname=bench")
            subprocess.run(ledger + ["init"], env=env, stdout=subprocess.DEVNULL, check=True)
            manifest = os.path.join(work, "manifest.csv")
            with open(manifest, "w") as f:
                f.write("imei,uri,port,name\n")
                for i in range(ROWS):
                    f.write(f"{490154200000000 + i},coap://192.0.2.{i % 250}/lot/{i},{5683 + i % 100},bench-{i}\n")
            took = timed(ledger + ["lot", "L", "--manifest", manifest], env)
            print(f"lot --manifest, {ROWS} rows: {took:.2f} s")
            reports = []
            for k in range(10):
                path = os.path.join(work, f"report{k}.jsonl")
                with open(path, "w") as f:
                    for n in range(ROWS):
                        f.write(report_line(f"run-{k}", k * ROWS + n, 350000000000000 + k * ROWS + n))
                reports.append(path)
            syncs = [timed(ledger + ["sync", "--lot", "L", path], env) for path in reports]
            print(f"sync, {ROWS} objects: " + ", ".join(f"{t:.2f}" for t in syncs) + " s")
            again = timed(ledger + ["sync", "--lot", "L", reports[0]], env)
            print(f"sync again, {ROWS} objects already held: {again:.2f} s")
            status = [timed(ledger + ["status", "L"], env) for _ in range(5)]
            print(f"status, {10 * ROWS} results: " + ", ".join(f"{t:.3f}" for t in status) + " s")
            without, with_ledger = station_runs(build, env, work)
            print(f"16 modules at 10 ms: {without:.3f} s without the ledger, {with_ledger:.3f} s with it "
                  f"(medians of 5); ratio {with_ledger / without:.3f}")
        finally:
            subprocess.run(["bash", SERVER, "stop", state], check=True)


if __name__ == "__main__":
    main()
