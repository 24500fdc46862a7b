#!/bin/sh
# bench.sh BUILD_DIR
# Runs the benchmark (BUILD_DIR/bench/bench.exe) under Wine in a headless
# prefix of its own, BUILD_DIR/bench-prefix, so that no test shares its
# machine time. BENCH_RUNS (default 5) and BENCH_SMALL_RUNS (default 3; 0
# leaves the 2000-file package out) set the number of runs.
set -e
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
prefix=$build/bench-prefix
trap 'WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true' EXIT INT TERM
"$root/tools/wine-run.sh" "$prefix" "$build/bench/bench.exe" \
    "Z:$(printf '%s' "$build" | tr / '\\')" "${BENCH_RUNS:-5}" "${BENCH_SMALL_RUNS:-3}"
