#!/bin/sh
# Builds one libFuzzer target with clang and runs it.
#
# Usage: fuzz.sh SOURCE_DIR WORK_DIR SECONDS FUZZER [LIBRARY_SOURCE...] [-- libFuzzer options...]
#
# FUZZER is the target's source, DIR/NAME_fuzz.cpp; its seeds are the files
# of DIR/NAME_seeds and its dictionary DIR/NAME.dict when there is one.
# The LIBRARY_SOURCEs are the parts of the library the target needs (paths
# absolute or relative to SOURCE_DIR): a target may take the format
# compiler alone or the whole library. Everything is compiled with
# -fsanitize=fuzzer,address,undefined by clang, whatever compiler the main
# build uses; FUZZ_INCLUDES names further include directories (generated
# sources of the build tree). Objects go to FUZZ_OBJ (default WORK_DIR/obj),
# one per source, so that targets can share them; WORK_DIR keeps the binary,
# the growing corpus and any crash inputs. The seeds in the source tree are
# read, never written.
set -eu
src=$1 work=$2 seconds=$3 fuzzer=$4
shift 4
CLANGXX=${CLANGXX:-clang++}
case $fuzzer in /*) ;; *) fuzzer=$src/$fuzzer ;; esac
name=$(basename "$fuzzer" .cpp)
stem=${name%_fuzz}
dir=$(dirname "$fuzzer")
sources=$fuzzer
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  case $1 in /*) sources="$sources $1" ;; *) sources="$sources $src/$1" ;; esac
  shift
done
[ $# -gt 0 ] && shift  # the --
flags="-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
  -fno-omit-frame-pointer -I$src/include -I$src/src -I$src/tests"  # the compiler kit of the tests
for inc in ${FUZZ_INCLUDES:-}; do flags="$flags -I$inc"; done
obj=${FUZZ_OBJ:-$work/obj}
mkdir -p "$obj" "$work/$name.corpus" "$work/crashes"

# An object is stale when its source or any header of the library is newer.
newest_header=$(ls -t "$src"/src/*/*.h "$src"/include/vorlix/*.h | head -n 1)
objects= stale=
for s in $sources; do
  o=$obj/$(printf '%s' "$s" | sed 's|^/||; s|/|_|g').o
  objects="$objects $o"
  if [ ! -f "$o" ] || [ "$s" -nt "$o" ] || [ "$newest_header" -nt "$o" ]; then
    stale="$stale $s=$o"
  fi
done
if [ -n "$stale" ]; then
  # Two compilers at a time: the machines that run this have two cores.
  # shellcheck disable=SC2086
  printf '%s\n' $stale | CXX=$CLANGXX FLAGS=$flags xargs -P 2 -I{} sh -c '
    s=${1%%=*} o=${1#*=}
    $CXX $FLAGS -c "$s" -o "$o.$$" && mv "$o.$$" "$o"' sh {}
fi
bin=$work/$name
for o in $objects; do
  if [ ! -x "$bin" ] || [ "$o" -nt "$bin" ]; then
    # shellcheck disable=SC2086
    "$CLANGXX" -fsanitize=fuzzer,address,undefined $objects -lpthread -ldl -lm -o "$bin.tmp"
    mv "$bin.tmp" "$bin"
    break
  fi
done
dict=
[ -f "$dir/$stem.dict" ] && dict=-dict=$dir/$stem.dict
exec "$bin" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  $dict -artifact_prefix="$work/crashes/$name-" \
  -print_final_stats=1 "$@" "$work/$name.corpus" "$dir/${stem}_seeds"
