#!/usr/bin/env bash
# Installs the built library into a scratch prefix and uses it the ways a
# compiler's driver would: through pkg-config and through find_package.
# Also checks that the shared object exports exactly the declared entries.
set -euo pipefail
build=$1 src=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(find "$prefix" -name 'libvorlix.so.5' -printf '%h\n' | head -n1)
test -n "$libdir" || { echo "libvorlix.so.5 not installed"; exit 1; }
test -f "$libdir/vorlix_msg.cat" || { echo "message catalog not beside the library"; exit 1; }
test "$(readelf -d "$libdir/libvorlix.so.5" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')" = libvorlix.so.5

# Exports: every VORLIX_API declaration, and nothing else.
python3 - "$src" > "$tmp/declared" <<'PY'
import glob, importlib.util, sys
loader_spec = importlib.util.spec_from_file_location("g", sys.argv[1] + "/tools/gen_exports.py")
g = importlib.util.module_from_spec(loader_spec); loader_spec.loader.exec_module(g)
names = set()
for h in glob.glob(sys.argv[1] + "/include/vorlix/*.h"):
    names |= g.names(open(h).read())
print("\n".join(sorted(names)))
PY
nm -D --defined-only "$libdir/libvorlix.so.5" | awk '$2 ~ /^[TDBRVW]$/ {sub(/@.*/, "", $3); print $3}' | sort -u > "$tmp/exported"
if ! diff -u "$tmp/declared" "$tmp/exported"; then echo "exports differ from the declarations"; exit 1; fi

cat > "$tmp/use.c" <<'C'
#include <vorlix/vorlix.h>
int main(int argc, char **argv) {
    for_rtl_init_(&argc, argv);
    For_Context ctx = {0};
    if (for_unlock(&ctx, 10, 0) != 0) return 1;
    return for_unlock(&ctx, -77, iof_ext | iof_iostat) == 32 ? 0 : 2;
}
C
export PKG_CONFIG_PATH=$libdir/pkgconfig
cc -o "$tmp/use_pc" "$tmp/use.c" $(pkg-config --cflags --libs vorlix)
LD_LIBRARY_PATH=$libdir "$tmp/use_pc"

mkdir "$tmp/consumer"
cp "$tmp/use.c" "$tmp/consumer/"
cat > "$tmp/consumer/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.25)
project(consumer C)
find_package(vorlix 5 REQUIRED)
add_executable(use use.c)
target_link_libraries(use PRIVATE vorlix::vorlix)
CM
cmake -S "$tmp/consumer" -B "$tmp/consumer/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$tmp/consumer/build" >/dev/null
"$tmp/consumer/build/use"
echo "install: ok"
