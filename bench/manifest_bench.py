#!/usr/bin/env python3
"""Times how long veldconf-provision takes to read and check a manifest of
many rows before any port is opened (--check, which opens none): each row
an IMEI, a URI, a port and a literal name of its own.

usage: bench/manifest_bench.py [BUILD] [ROWS]   (defaults build/release, 100000)

Prints the wall time of five runs (target: under a second for 100,000 rows).
"""
import os
import pathlib
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent


def main():
    build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ROOT / "build" / "release")
    rows = int(sys.argv[2]) if len(sys.argv) > 2 else 100000
    with tempfile.TemporaryDirectory() as work:
        manifest = os.path.join(work, "manifest.csv")
        with open(manifest, "w") as f:
            f.write("imei,uri,port,name\n")
            for i in range(rows):
                f.write(f"{490154200000000 + i},coap://192.0.2.{i % 250}/lot/{i},{5683 + i % 100},bench-{i}\n")
        command = [build / "veldconf-provision", "--check", "--manifest", manifest, "/dev/null",
                   "--", "-i", "coap://192.0.2.10"]
        times = []
        for _ in range(5):
            start = time.monotonic()
            subprocess.run(command, stdout=subprocess.DEVNULL, check=True)
            times.append(time.monotonic() - start)
    print(f"{rows} manifest rows checked in " + ", ".join(f"{t:.2f}" for t in times) + " s")


if __name__ == "__main__":
    main()
