#!/usr/bin/env bash
# Installs the .deb of a release build, runs the worked example and the
# decoder from the PATH, shows the man pages, and removes the package again.
# usage: tests/package_test.sh BUILD_DIR   (needs root)
set -euo pipefail
build=$1
deb=$(ls "$build"/veldconf_*.deb)
dpkg -i "$deb" >/dev/null
trap 'dpkg -r veldconf >/dev/null' EXIT
want=$'AT+VELDCONF=44,100033162C0100001600636F61703A2F2F3139322E302E322E31303A3536383307003131313B323232050502,1,1\r'
got=$(cd / && veldconf -b 1 -e 0 -d 0 -p 5683 -t 300 -i coap://192.0.2.10:5683 -n '111;222' -u 5 -g 5 -x 2)
[ "$got" = "$want" ] || { echo "FAIL: installed veldconf printed: $got"; exit 1; }
[ "$(command -v veldconf)" = /usr/bin/veldconf ] || { echo "FAIL: not on the PATH"; exit 1; }
man -P cat veldconf 2>/dev/null | grep -q 'AT+VELDCONF=count,hex,index,last' ||
    { echo "FAIL: man veldconf does not show the page"; exit 1; }
[ -f /usr/share/bash-completion/completions/veldconf ] || { echo "FAIL: no completion"; exit 1; }
decoded=$(veldconf -p 5683 -i coap://192.0.2.10 -n '1;2' | veldconf-decode)
[ "$decoded" = "veldconf -b 0 -e 0 -d 0 -p 5683 -t 300 -i coap://192.0.2.10 -n '1;2' -u 5 -g 5 -x 2" ] ||
    { echo "FAIL: installed veldconf-decode printed: $decoded"; exit 1; }
man -P cat veldconf-decode 2>/dev/null | grep -q 'read AT+VELDCONF commands back' ||
    { echo "FAIL: man veldconf-decode does not show the page"; exit 1; }
man -P cat veldconf-send 2>/dev/null | grep -q 'sends them to the module on the serial port' ||
    { echo "FAIL: man veldconf-send does not show the page"; exit 1; }
veldconf-send --help | grep -q '^Usage: veldconf-send' || { echo "FAIL: veldconf-send"; exit 1; }
man -P cat veldconf-provision 2>/dev/null | grep -q 'configure many modules at once' ||
    { echo "FAIL: man veldconf-provision does not show the page"; exit 1; }
veldconf-provision --help | grep -q '^Usage: veldconf-provision' || { echo "FAIL: veldconf-provision"; exit 1; }
[ -L /usr/share/bash-completion/completions/veldconf-provision ] || { echo "FAIL: no completion for veldconf-provision"; exit 1; }
man -P cat veldconf-ledger 2>/dev/null | grep -q 'lot_progress' ||
    { echo "FAIL: man veldconf-ledger does not show the page"; exit 1; }
veldconf-ledger --help | grep -q '^Usage: veldconf-ledger' || { echo "FAIL: veldconf-ledger"; exit 1; }
dpkg-deb -f "$deb" Depends | grep -q 'libpq5' || { echo "FAIL: the package does not depend on libpq5"; exit 1; }
[ -f /usr/share/doc/veldconf/copyright ] || { echo "FAIL: no copyright file"; exit 1; }
lintian --fail-on error,warning "$deb" || { echo "FAIL: lintian"; exit 1; }
echo "1 passed, 0 failed"
