#!/usr/bin/env bash
# Checks the bash completion: the words typed so far, then the offers.
set -u
source "$(dirname "$0")/../completions/veldconf"
passed=0 failed=0
check() {  # "words typed, the last being completed" "expected offers"
    read -r -a COMP_WORDS <<<"$1"
    [ "${1: -1}" = " " ] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _veldconf
    if [ "${COMPREPLY[*]}" = "$2" ]; then passed=$((passed + 1))
    else failed=$((failed + 1)); echo "FAIL '$1': got '${COMPREPLY[*]}', want '$2'"; fi
}
check "veldconf --bl" "--block1= --block2= --block2th="
check "veldconf --block2th=" "--block2th=0 --block2th=1 --block2th=2"
check "veldconf --block1=6" "--block1=6"
check "veldconf --k" "--keep_alive"
check "veldconf -b " "0 1"
check "veldconf --encrypt " "0 1"
check "veldconf -u " "0 1 2 3 4 5 6"
check "veldconf -x " "0 1 2"
check "veldconf -i coaps" "coaps://"
check "veldconf -p " ""
check "veldconf --he" "--help"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
