#!/usr/bin/env bash
# Builds the library and runs the example programs: the C one, which calls
# the library's entries the way compiled Fortran code does, then the Fortran
# tour run by vorlix-run.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target vorlix_demo vorlix-run
echo "== running examples/demo.c"
build/release/examples/vorlix_demo || echo "(the demo ends with exit status $?)"
echo "== running examples/tour.f90 with vorlix-run"
# The tour writes its files in a scratch directory of its own.
root=$(pwd)
tour_dir=$(mktemp -d)
trap 'rm -rf "$tour_dir"' EXIT
(cd "$tour_dir" && "$root/build/release/tools/vorlix-run/vorlix-run" "$root/examples/tour.f90")
