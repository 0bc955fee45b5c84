#!/bin/sh
# Builds the unformatted-reader fuzz target with clang and runs it.
#
# Usage: fuzz_ufseq.sh SOURCE_DIR BUILD_DIR WORK_DIR SECONDS [libFuzzer options...]
#
# The target reaches the reader through OPEN, READ and the positioning
# statements, so it is linked with the whole library, compiled again with
# -fsanitize=fuzzer-no-link,address,undefined (two jobs at a time, an object
# rebuilt when its source or any header is newer). BUILD_DIR is the main
# build, which holds the generated sources. WORK_DIR keeps the objects, the
# binary, the growing corpus and any crash inputs.
set -eu
src=$1 build=$2 work=$3 seconds=$4
shift 4
CLANGXX=${CLANGXX:-clang++}
mkdir -p "$work/obj" "$work/corpus" "$work/crashes"
flags="-std=c++20 -O1 -g -fno-omit-frame-pointer -fno-sanitize-recover=all
  -DVORLIX_BUILDING=1 -I$src/include -I$src/src -I$build/src -I$src/tests"
newest_header=$(ls -t "$src"/include/vorlix/*.h "$src"/src/*/*.h "$src"/tests/support/kit.h | head -n 1)
sources=$( (find "$src/src" "$build/src" -name '*.cpp'; echo "$src/tests/support/kit.cpp") | sort)
stale=$(for f in $sources; do
  o=$work/obj/$(echo "$f" | tr / _).o
  if [ ! -f "$o" ] || [ "$f" -nt "$o" ] || [ "$newest_header" -nt "$o" ]; then echo "$f"; fi
done)
if [ -n "$stale" ]; then
  # shellcheck disable=SC2086
  echo "$stale" | xargs -P 2 -I{} sh -c \
    'o="$1/obj/$(echo "$2" | tr / _).o"; exec "$3" $4 -fsanitize=fuzzer-no-link,address,undefined -c "$2" -o "$o"' \
    sh "$work" {} "$CLANGXX" "$flags"
fi
bin=$work/ufseq_fuzz
target=$src/tests/unformatted/fuzz/ufseq_fuzz.cpp
if [ -n "$stale" ] || [ ! -x "$bin" ] || [ "$target" -nt "$bin" ]; then
  # shellcheck disable=SC2086
  "$CLANGXX" $flags -fsanitize=fuzzer,address,undefined "$target" "$work"/obj/*.o \
    -lpthread -ldl -lm -lquadmath -o "$bin.tmp"
  mv "$bin.tmp" "$bin"
fi
exec "$bin" -max_total_time="$seconds" -max_len=2048 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$work/crashes/" -print_final_stats=1 "$@" \
  "$work/corpus" "$src/tests/unformatted/fuzz/seeds"
