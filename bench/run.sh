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
mean = {r["command"]: r["mean"] for r in json.load(open(sys.argv[1]))["results"]}
for name in mean:
    print(f"{name:15} {mean[name] * 1e3:7.3f} ms")
print(f"worked example / one-line C program: {mean['worked_example'] / mean['one_line']:.3f}  (target 1.15)")
print(f"largest blob / worked example:       {mean['largest_blob'] / mean['worked_example']:.3f}  (target 1.3)")
PY
