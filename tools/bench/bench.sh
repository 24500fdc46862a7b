#!/bin/sh
# bench.sh BUILD_DIR WINE_ARCH
# Runs the benchmark (BUILD_DIR/bench/bench.exe) under Wine in a headless
# prefix of its own, BUILD_DIR/bench-prefix, of WINE_ARCH (win32 for the
# 32-bit build, win64 for the 64-bit twin), so that no test shares its
# machine time. BENCH_RUNS (default 5) and BENCH_SMALL_RUNS (default 3; 0
# leaves the 2000-file package out) set the number of runs.
set -e
build=$(cd "$1" && pwd)
arch=${2:-win32}
root=$(cd "$(dirname "$0")/../.." && pwd)
prefix=$build/bench-prefix
trap 'WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true' EXIT INT TERM
"$root/tools/wine-run.sh" "$arch" "$prefix" "$build/bench/bench.exe" \
    "Z:$(printf '%s' "$build" | tr / '\\')" "${BENCH_RUNS:-5}" "${BENCH_SMALL_RUNS:-3}"
