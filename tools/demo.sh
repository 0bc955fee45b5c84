#!/usr/bin/env bash
# Builds the library and runs the example program, which calls the library's
# entries the way compiled Fortran code does.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target vorlix_demo
echo "== running examples/demo.c"
build/release/examples/vorlix_demo || echo "(the demo ends with exit status $?)"
