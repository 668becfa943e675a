#!/usr/bin/env bash
# Times whole runs of the tool against a minimal statically linked C program
# that prints one line, in one hyperfine invocation, and prints the ratios.
# usage: bench/run.sh [TOOL] [RUNS]   (default build/release/veldconf, 500)
set -euo pipefail
tool=$(realpath "${1:-build/release/veldconf}")
runs=${2:-500}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

command -v hyperfine >/dev/null || { echo "needs hyperfine (apt-get install hyperfine)"; exit 1; }
cat >"$work/one_line.c" <<'C'
#include <stdio.h>
int main(void) {
    fputs("AT+VELDCONF=44,100033162C0100001600636F61703A2F2F3139322E302E322E31303A3536383307003131313B323232050502,1,1\r\n", stdout);
    return 0;
}
C
cc -O2 -static "$work/one_line.c" -o "$work/one_line"

worked="$tool -b 1 -e 0 -d 0 -p 5683 -t 300 -i coap://192.0.2.10:5683 -n '111;222' -u 5 -g 5 -x 2"
# Two 65535-byte texts are more than one argument of hyperfine's may hold:
# it puts the text in place of {text} itself, with no shell in between.
text=$(head -c 65535 /dev/zero | tr '\0' a)
largest="$tool -p 5683 -i {text} -n {text}"

grep -m1 'model name' /proc/cpuinfo || true
echo "cores: $(nproc); runs: $runs each; tool: $tool"
hyperfine -N -L text "$text" --runs "$runs" --warmup 20 --style basic --export-json "$work/times.json" \
    -n one_line "$work/one_line" -n worked_example "$worked" -n largest_blob "$largest" \
    | grep -E '^(Benchmark|  Time)'
python3 - "$work/times.json" <<'PY'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
for name, r in results.items():
    print(f"{name:15} mean {r['mean'] * 1e3:6.3f} ms  median {r['median'] * 1e3:6.3f} ms")
for what, a, b, target in [("worked example / one-line C program", "worked_example", "one_line", 1.15),
                           ("largest blob / worked example", "largest_blob", "worked_example", 1.3)]:
    ratio = {k: results[a][k] / results[b][k] for k in ("mean", "median")}
    print(f"{what:36} mean {ratio['mean']:.3f}  median {ratio['median']:.3f}  (target {target})")
PY
