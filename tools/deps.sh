#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if missing.
set -euo pipefail

needed=()
command -v cmake >/dev/null || needed+=(cmake)
command -v g++ >/dev/null || needed+=(g++)
command -v python3 >/dev/null || needed+=(python3)
[ -f /usr/include/gtest/gtest.h ] || needed+=(libgtest-dev)
[ ${#needed[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "installing: ${needed[*]}"
"${as_root[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q "${needed[@]}"
