#!/usr/bin/env python3
"""Round trips: random settings through veldconf, veldconf-decode, and the
printed command through veldconf again; the lines must be identical.

usage: decode_roundtrip.py VELDCONF VELDCONF_DECODE [COUNT] [SEED] [K/N]

SEED 'random' draws a new one, printed with the result. With K/N, only
every Nth configuration from the Kth (from 1) is tried, so that the same
configurations run in N processes at once.
"""
import os
import random
import subprocess
import sys

CHUNK = 1024
MAX_TEXT = 0xFFFF


def text_lengths(rng):
    """Mostly short texts; some whose blob lands on a chunk boundary; some
    of the largest sizes."""
    pick = rng.random()
    if pick < 0.75:
        return rng.randint(0, 40), rng.randint(0, 40)
    if pick < 0.95:
        total = rng.choice([1, 2, 3, 127]) * CHUNK - 15 + rng.randint(-2, 2)
        uri = rng.randint(max(0, total - MAX_TEXT), min(total, MAX_TEXT))
        return uri, total - uri
    return rng.choice([MAX_TEXT, MAX_TEXT - 1, rng.randint(0, MAX_TEXT)]), \
        rng.choice([MAX_TEXT, rng.randint(0, MAX_TEXT)])


def random_text(rng, length):
    return bytes(rng.randint(1, 255) for _ in range(length))


def random_args(rng):
    uri_len, name_len = text_lengths(rng)
    args = [b"-b", str(rng.randint(0, 1)).encode(),
            b"-e", str(rng.randint(0, 1)).encode(),
            b"-d", str(rng.randint(-2**31, 2**31 - 1)).encode(),
            b"-t", str(rng.randint(-2**31, 2**31 - 1)).encode(),
            b"-i", random_text(rng, uri_len),
            b"-n", random_text(rng, name_len),
            b"-u", str(rng.randint(0, 6)).encode(),
            b"-g", str(rng.randint(0, 6)).encode(),
            b"-x", str(rng.randint(0, 2)).encode()]
    if rng.random() < 0.9:  # otherwise the port is drawn, and must come back
        args += [b"-p", str(rng.randint(0, 65535)).encode()]
    return args


def main():
    tool, decoder = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 1000
    seed = sys.argv[4] if len(sys.argv) > 4 else "random"
    seed = random.randrange(2**32) if seed == "random" else int(seed)
    share, shares = map(int, (sys.argv[5] if len(sys.argv) > 5 else "1/1").split("/"))
    rng = random.Random(seed)
    env = dict(os.environ, PATH=os.path.dirname(tool) + os.pathsep + os.environ["PATH"])
    env.pop("POSIXLY_CORRECT", None)
    passed = failed = 0
    for number in range(count):
        args = random_args(rng)
        if number % shares != share - 1:
            continue
        first = subprocess.run([tool] + args, capture_output=True)
        decoded = subprocess.run([decoder], input=first.stdout, capture_output=True)
        # The command goes to bash on standard input: it can be longer than
        # one argument may be.
        again = subprocess.run(["bash"], input=decoded.stdout, capture_output=True, env=env)
        if first.returncode == 0 and decoded.returncode == 0 and again.stdout == first.stdout:
            passed += 1
            continue
        failed += 1
        print(f"FAIL configuration {number} (seed {seed}): {[a[:40] for a in args]}")
        print(f"  veldconf {first.returncode}, decode {decoded.returncode}: "
              f"{decoded.stderr[:300]!r} {decoded.stdout[:300]!r}")
        if failed >= 5:
            break
    print(f"seed {seed}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
