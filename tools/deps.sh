#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks
# need, if missing. With --ci, also what CI's further checks use: clang with
# its sanitizer and fuzzer runtimes, valgrind, groff and man, and the
# mingw-w64 cross compiler with Wine (32-bit, so the i386 architecture).
set -euo pipefail

needed=()
want() {  # package, then the file or command that shows it is there
    if [ "${2#/}" != "$2" ]; then [ -e "$2" ] || needed+=("$1")
    else command -v "$2" >/dev/null || needed+=("$1"); fi
}
want cmake cmake
want g++ g++
want python3 python3
want libgtest-dev /usr/include/gtest/gtest.h
want libbenchmark-dev /usr/include/benchmark/benchmark.h
if [ "${1:-}" = --ci ]; then
    want clang clang++
    want libclang-rt-14-dev /usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a
    want valgrind valgrind
    want groff-base groff
    want man-db man
    want g++-mingw-w64-i686 i686-w64-mingw32-g++
    want wine wine
    dpkg -s wine32:i386 >/dev/null 2>&1 || needed+=(wine32:i386)
fi
[ ${#needed[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "installing: ${needed[*]}"
case " ${needed[*]} " in
    *:i386*) dpkg --print-foreign-architectures | grep -qx i386 ||
        "${as_root[@]}" dpkg --add-architecture i386 ;;
esac
"${as_root[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q "${needed[@]}"
