#!/usr/bin/env bash
# Builds the library and runs every test suite three times: as built for
# use, under AddressSanitizer + UndefinedBehaviorSanitizer, and the threaded
# suites under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
jobs=$(nproc)
run() {  # run <build dir> <ctest args...> -- <cmake args...>
    local dir=$1; shift
    local ctest_args=() cmake_args=()
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do ctest_args+=("$1"); shift; done
    [ $# -gt 0 ] && shift
    cmake_args=("$@")
    echo "== $dir: configure and build"
    cmake -S . -B "$dir" -G Ninja -DVORLIX_UNITY=ON -DVORLIX_WERROR=ON "${cmake_args[@]}" >/dev/null
    cmake --build "$dir" -j "$jobs"
    echo "== $dir: test"
    ctest --test-dir "$dir" -j "$jobs" --output-on-failure -LE soak "${ctest_args[@]}"
}
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ASAN_OPTIONS=detect_leaks=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
run build/release -- -DCMAKE_BUILD_TYPE=RelWithDebInfo
run build/asan -- -DCMAKE_BUILD_TYPE=Debug -DVORLIX_SANITIZE=address,undefined
run build/tsan -L threads -- -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORLIX_SANITIZE=thread
echo "== all test runs passed"
