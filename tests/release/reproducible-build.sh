#!/bin/sh
# reproducible-build.sh SOURCE_DIR PKGBUILD
#
# Builds setup.exe in two clean build trees whose paths differ and compares
# the results byte for byte: a time stamp, a build path or an unstable link
# order anywhere in the executable (or in the sample programs it carries)
# shows as a difference.
set -eu
src=$1 pkgbuild=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
for tree in a build-tree-b; do
    cmake -S "$src" -B "$work/$tree" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" -DPKGBUILD="$pkgbuild" \
        >"$work/$tree.log" 2>&1 || { cat "$work/$tree.log"; exit 1; }
    cmake --build "$work/$tree" --target setup -j 2 >>"$work/$tree.log" 2>&1 ||
        { cat "$work/$tree.log"; exit 1; }
done
a=$work/a/setup.exe b=$work/build-tree-b/setup.exe
if cmp -s "$a" "$b"; then
    echo "reproducible: 1 passed, 0 failed ($(stat -c %s "$a") bytes, identical)"
    exit 0
fi
echo "the two builds of setup.exe differ ($(stat -c %s "$a") and $(stat -c %s "$b") bytes);"
echo "first differing bytes (offset, octal values):"
cmp -l "$a" "$b" | head -20
for part in package-data/payload.bin package-data/links.bin package-data/strings.bin package-data/name.bin; do
    cmp -s "$work/a/$part" "$work/build-tree-b/$part" || echo "$part differs too"
done
echo "reproducible: 0 passed, 1 failed"
exit 1
