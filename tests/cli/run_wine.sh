#!/usr/bin/env bash
# Runs the command-line cases against the Windows build under Wine, in a
# prefix of its own. usage: tests/cli/run_wine.sh [EXE]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=$(realpath "${1:-build/win32/veldconf.exe}")
if [ -z "${WINEPREFIX:-}" ]; then
    WINEPREFIX=$(mktemp -d)
    trap 'rm -rf "$WINEPREFIX"' EXIT
fi
export WINEPREFIX WINEDEBUG=-all
# Start the prefix and a lasting server first, so that no process Wine
# starts for itself holds a case's output pipes open.
wineserver -p
wine "$exe" -h >/dev/null 2>&1 </dev/null
prog=$(winepath -w "$exe")
status=0
python3 "$here/run_cases.py" "$here/cases.txt" --windows --prog "$prog" -- wine "$exe" || status=$?
wineserver -k || true
exit "$status"
