#!/usr/bin/env bash
# Times whole runs of the tool against a minimal statically linked C program
# that prints one line, given the same words (the kernel's copying of long
# words is part of both), and prints the ratios; then the rate of the
# lines' hex.
# usage: bench/run.sh [TOOL] [RUNS] [BENCH]
#   (defaults build/release/veldconf, 500, build/bench/bench/commands_bench)
set -euo pipefail
tool=$(realpath "${1:-build/release/veldconf}")
runs=${2:-500}
bench=${3:-build/bench/bench/commands_bench}
rounds=10
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

worked="-b 1 -e 0 -d 0 -p 5683 -t 300 -i coap://192.0.2.10:5683 -n '111;222' -u 5 -g 5 -x 2"
# Two 65535-byte texts are more than one argument of hyperfine's may hold:
# it puts the text in place of {text} itself, with no shell in between.
text=$(head -c 65535 /dev/zero | tr '\0' a)
largest="-p 5683 -i {text} -n {text}"

grep -m1 'model name' /proc/cpuinfo || true
echo "cores: $(nproc); runs: $runs each, in $rounds rounds; tool: $tool"
# Rounds of the four commands in turn, so that a slow spell of the machine
# falls on all of them, every other round in reverse order, as the command
# that runs first in a round runs slower; the ratio of each round shows the
# spread.
commands=(-n one_line_worked_words "$work/one_line $worked" -n worked_example "$tool $worked"
          -n one_line_largest_words "$work/one_line $largest" -n largest_blob "$tool $largest")
reversed=()
for ((i = ${#commands[@]} - 3; i >= 0; i -= 3)); do reversed+=("${commands[@]:i:3}"); done
for round in $(seq "$rounds"); do
    if ((round % 2)); then order=("${commands[@]}"); else order=("${reversed[@]}"); fi
    hyperfine -N -L text "$text" --runs $((runs / rounds)) --warmup 20 --style none \
        --export-json "$work/round$round.json" "${order[@]}" >/dev/null
done
python3 - "$work"/round*.json <<'PY'
import json, statistics, sys
rounds = [{r["command"]: r["times"] for r in json.load(open(f))["results"]} for f in sys.argv[1:]]
times = {name: [t for r in rounds for t in r[name]] for name in rounds[0]}
for name, t in times.items():
    print(f"{name:23} mean {statistics.mean(t) * 1e3:6.3f} ms  median {statistics.median(t) * 1e3:6.3f} ms")
for what, a, b, target in [("worked example / C, same words", "worked_example", "one_line_worked_words", 1.02),
                           ("largest blob / C, same words", "largest_blob", "one_line_largest_words", 1.05)]:
    ratio = {f.__name__: f(times[a]) / f(times[b]) for f in (statistics.mean, statistics.median)}
    per_round = [statistics.median(r[a]) / statistics.median(r[b]) for r in rounds]
    print(f"{what:31} mean {ratio['mean']:.3f}  median {ratio['median']:.3f}"
          f"  rounds {min(per_round):.3f}-{max(per_round):.3f}  (target {target})")
PY
if [ -x "$bench" ]; then
    "$bench" --benchmark_filter='^hex$' --benchmark_min_time=0.5 --benchmark_repetitions=5 \
        --benchmark_report_aggregates_only=true 2>/dev/null |
        awk '/^hex_(mean|median|stddev)/ { print "lines\x27 hex, " substr($1, 5) ": " $NF " (target 4G/s)" }'
else
    echo "no $bench: build the bench preset for the hex rate"
fi
