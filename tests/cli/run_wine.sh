#!/usr/bin/env bash
# Runs the command-line cases, the sender's and the station's cases
# against a Windows build under Wine, in a prefix of its own, with COM7 (and
# COM8, COM9) mapped to module simulators' pseudo-terminals (through links
# each case's simulators point at their own).
# usage: tests/cli/run_wine.sh BUILD TOOLS [LOADER]
#   BUILD   the folder of veldconf.exe, veldconf-send.exe and
#           veldconf-provision.exe
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
"$loader" "$build/tests/windows/console_close_test.exe" </dev/null || status=$?
python3 "$here/run_cases.py" "$here/cases.txt" --windows --prog "$(windows_name "$build/veldconf.exe")" \
    -- "$loader" "$build/veldconf.exe" || status=$?

# The port mapping is read when the server starts: COM7 for the sender,
# COM7 to COM9 for a batch of three.
for n in 7 8 9; do
    "$loader" reg add 'HKLM\Software\Wine\Ports' /v COM$n /t REG_SZ /d "$WINEPREFIX/module$n" /f >/dev/null 2>&1
done
link=$WINEPREFIX/module7
wineserver -k || true
wineserver -p >/dev/null 2>&1  # its object dumps are no case's output
(cd "$here/../.." && python3 "$here/run_cases.py" "$here/send_cases.txt" --windows --all \
    --prog "$(windows_name "$build/veldconf-send.exe")" --tools "$tools" --device COM7 --link "$link" \
    -- "$loader" "$build/veldconf-send.exe") || status=$?
python3 "$here/run_cases.py" "$here/provision_cases.txt" --windows --all \
    --prog "$(windows_name "$build/veldconf-provision.exe")" --tools "$tools" \
    --ports "COM7=$link,COM8=$WINEPREFIX/module8,COM9=$WINEPREFIX/module9" \
    --watch-ports "COM11=$WINEPREFIX/dosdevices/com11,COM12=$WINEPREFIX/dosdevices/com12" \
    -- "$loader" "$build/veldconf-provision.exe" || status=$?
wineserver -k || true
exit "$status"
