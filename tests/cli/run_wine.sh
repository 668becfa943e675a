#!/usr/bin/env bash
# Runs the command-line cases and the sender's cases against a Windows
# build under Wine, in a prefix of its own, with COM7 mapped to the module
# simulator's pseudo-terminal (through a link each case's simulator points
# at its own).
# usage: tests/cli/run_wine.sh BUILD TOOLS [LOADER]
#   BUILD   the folder of veldconf.exe and veldconf-send.exe
#   TOOLS   a Linux build, whose veldconf and veldconf-decode make and
#           read back the sender cases' inputs
#   LOADER  Wine's loader: wine (the default) or wine64's, for 64-bit
#           programs where 32-bit ones cannot run
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "$1")
tools=$(realpath "$2")
loader=${3:-wine}
if [ -z "${WINEPREFIX:-}" ]; then
    WINEPREFIX=$(mktemp -d)
    trap 'rm -rf "$WINEPREFIX"' EXIT
fi
export WINEPREFIX WINEDEBUG=-all WINELOADER=$(command -v "$loader")
# Start the prefix and a lasting server first, so that no process Wine
# starts for itself holds a case's output pipes open.
wineserver -p >/dev/null 2>&1  # its object dumps are no case's output
"$loader" "$build/veldconf.exe" -h >/dev/null 2>&1 </dev/null
windows_name() { "$loader" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
status=0
python3 "$here/run_cases.py" "$here/cases.txt" --windows --prog "$(windows_name "$build/veldconf.exe")" \
    -- "$loader" "$build/veldconf.exe" || status=$?

# The port mapping is read when the server starts.
link=$WINEPREFIX/module
"$loader" reg add 'HKLM\Software\Wine\Ports' /v COM7 /t REG_SZ /d "$link" /f >/dev/null 2>&1
wineserver -k || true
wineserver -p >/dev/null 2>&1  # its object dumps are no case's output
(cd "$here/../.." && python3 "$here/run_cases.py" "$here/send_cases.txt" --windows \
    --prog "$(windows_name "$build/veldconf-send.exe")" --tools "$tools" --device COM7 --link "$link" \
    -- "$loader" "$build/veldconf-send.exe") || status=$?
wineserver -k || true
exit "$status"
