#!/usr/bin/env bash
# Runs each fuzzer for a bounded time from the seeds the build made from the test cases; a finding
# fails the run (and is left as crash-* in the working folder).
# usage: fuzz/run.sh BUILD_DIR [SECONDS]
set -euo pipefail
build=$1
seconds=${2:-60}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() {  # name corpus [env arguments]
    local name=$1 corpus=$2 status=0
    shift 2
    mkdir -p "$work/$name"
    echo "== $name for ${seconds}s"
    env "$@" "$build/fuzz/${corpus}_fuzz" -max_total_time="$seconds" \
        -close_fd_mask=2 -print_final_stats=1 -timeout=10 \
        "$work/$name" "$build/fuzz/corpus/$corpus" >"$work/$name.log" 2>&1 || status=$?
    grep -E '^(stat::(number_of_executed_units|average_exec_per_sec)|invariant failed|==[0-9]+==|SUMMARY)' \
        "$work/$name.log" || true
    if [ "$status" -ne 0 ]; then
        tail -n 60 "$work/$name.log"
        echo "FAIL: $name found a fault (status $status)"
        return 1
    fi
}

# The scanner reads POSIXLY_CORRECT once per process: one run for each mode.
run scanner scanner -u POSIXLY_CORRECT
run scanner_posix scanner POSIXLY_CORRECT=1
run cli cli -u POSIXLY_CORRECT
run reader reader
run dialogue dialogue
run report report
