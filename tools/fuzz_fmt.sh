#!/bin/sh
# Builds the format-compiler fuzz target with clang and runs it.
#
# Usage: fuzz_fmt.sh SOURCE_DIR WORK_DIR SECONDS [libFuzzer options...]
#
# The target is compiled from the format sources and the memory primitives
# only (no other part of the library), with -fsanitize=fuzzer,address,
# undefined, whatever compiler the main build uses. WORK_DIR keeps the
# binary, the growing corpus and any crash inputs; the seeds in the source
# tree are read, never written.
set -eu
src=$1 work=$2 seconds=$3
shift 3
CLANGXX=${CLANGXX:-clang++}
mkdir -p "$work/corpus" "$work/crashes"
bin=$work/fmt_fuzz
sources="$src/tests/format/fuzz/fmt_fuzz.cpp $src/src/format/for_fmt_comp.cpp
  $src/src/format/for_fmt_decode.cpp $src/src/format/for_fmt_tables.cpp
  $src/src/runtime/for_vm.cpp"
stale=no
[ -x "$bin" ] || stale=yes
for f in $sources "$src"/src/format/*.h "$src"/include/vorlix/format.h; do
  [ "$stale" = yes ] && break
  [ "$f" -nt "$bin" ] && stale=yes
done
if [ "$stale" = yes ]; then
  # shellcheck disable=SC2086
  "$CLANGXX" -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined \
    -fno-sanitize-recover=all -fno-omit-frame-pointer \
    -I"$src/include" -I"$src/src" $sources -o "$bin.tmp"
  mv "$bin.tmp" "$bin"
fi
exec "$bin" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -dict="$src/tests/format/fuzz/fmt.dict" -artifact_prefix="$work/crashes/" \
  -print_final_stats=1 "$@" "$work/corpus" "$src/tests/format/fuzz/seeds"
