#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks
# need, if missing. With --ci, also what CI's further checks use: clang with
# its sanitizer and fuzzer runtimes, valgrind, groff, mandoc and man,
# lintian, g++'s 32-bit libraries, both mingw-w64 cross compilers and the
# 64-bit Wine; then the 32-bit Wine (the i386 architecture), last and on
# its own: where it cannot be had, CI says so and skips only its runs.
set -euo pipefail

needed=()
want() {  # package, then the file or command that shows it is there
    if [ "${2#/}" != "$2" ]; then [ -e "$2" ] || needed+=("$1")
    else command -v "$2" >/dev/null || needed+=("$1"); fi
}
fuzzer_runtime() {
    compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null
}
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
install() {
    [ $# -eq 0 ] && return 0
    echo "installing: $*"
    # A mirror in the middle of a sync fails some indexes; the rest still serve.
    "${as_root[@]}" apt-get update -q || echo "apt-get update reported errors; trying anyway"
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q "$@"
}

want cmake cmake
want ninja-build ninja
want g++ g++
want python3 python3
want libgtest-dev /usr/include/gtest/gtest.h
want libbenchmark-dev /usr/include/benchmark/benchmark.h
want tmux tmux
want bash-completion /usr/share/bash-completion/bash_completion
# An exFAT file system on FUSE, for the station's cases on a folder without
# hard links or fallocate (they run as root, and skip elsewhere).
want exfatprogs mkfs.exfat
want exfat-fuse mount.exfat-fuse
want strace strace
# A slow disk for the station's cases: a FUSE folder of the tests' own, on
# Debian's fusepy for the system's Python.
want python3-fusepy /usr/lib/python3/dist-packages/fusepy.py
# The ledger: libpq to build against, and PostgreSQL's server programs,
# with which the tests start a server of their own (the machine's own
# cluster is never used).
want libpq-dev /usr/include/postgresql/libpq-fe.h
compgen -G '/usr/lib/postgresql/*/bin/initdb' >/dev/null || needed+=(postgresql)
want postgresql-client psql
if [ "${1:-}" = --ci ]; then
    want clang clang++
    fuzzer_runtime || needed+=(libclang-rt-14-dev)
    want valgrind valgrind
    want groff-base groff
    want mandoc mandoc
    want man-db man
    want lintian lintian
    want hyperfine hyperfine
    want g++-mingw-w64-i686-posix i686-w64-mingw32-g++-posix
    want g++-mingw-w64-x86-64-posix x86_64-w64-mingw32-g++-posix
    want wine64 /usr/lib/wine/wine64
    dpkg -s g++-multilib >/dev/null 2>&1 || needed+=(g++-multilib)
fi
install "${needed[@]}"

version=$(cmake --version | awk 'NR == 1 {print $3}')
if ! printf '3.25\n%s\n' "$version" | sort -V -C; then
    echo "cmake $version is too old: the presets need 3.25 or later" >&2
    exit 1
fi

if [ "${1:-}" = --ci ] && ! dpkg -s wine32:i386 >/dev/null 2>&1; then
    dpkg --print-foreign-architectures | grep -qx i386 || "${as_root[@]}" dpkg --add-architecture i386
    install wine wine32:i386 || echo "WARNING: wine32 could not be installed; the win32 runs under Wine will be skipped"
fi
exit 0
