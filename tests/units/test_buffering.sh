#!/usr/bin/env bash
# Output to a pipe or a file reaches the kernel in large writes: 20000 small
# PRINT records may take at most a few dozen write calls, and every record
# arrives.
set -euo pipefail
prog=$1
# LeakSanitizer cannot run under ptrace: the traced program checks no leaks.
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0"
command -v strace >/dev/null || { echo "strace is not installed: skipped"; exit 0; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for target in pipe file; do
    if [ $target = pipe ]; then
        strace -f -c -e trace=write -o "$tmp/trace" "$prog" 20000 | cat > "$tmp/out"
    else
        strace -f -c -e trace=write -o "$tmp/trace" "$prog" 20000 > "$tmp/out"
    fi
    writes=$(awk '$NF == "write" {print $4}' "$tmp/trace")
    lines=$(wc -l < "$tmp/out")
    echo "$target: $lines records in $writes write calls"
    [ "$lines" -eq 20000 ] || { echo "records lost"; exit 1; }
    [ "$writes" -le 40 ] || { echo "too many write calls"; exit 1; }
done
tail -n 1 "$tmp/out" | grep -q ' 20000$'
