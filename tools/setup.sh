#!/usr/bin/env bash
# Installs what building and testing need, when it is missing: a fresh
# machine of this kind has most of it; the rest comes from Debian's packages.
set -euo pipefail
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed'; }
for pkg in cmake ninja-build g++ gfortran python3 libgtest-dev libc-bin libmpfr-dev libgmp-dev pkg-config clang libclang-rt-14-dev strace; do
    have "$pkg" || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
    echo "setup: installing ${need[*]}"
    if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
fi
