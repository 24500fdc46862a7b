#!/bin/sh
# Builds the package and PE readers' fuzz targets (tests/fuzz/*_fuzz.cpp) with
# clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer into
# build/fuzz, and runs each for a bounded time from its seed corpus in
# tests/fuzz/corpus/<target>.
#
#   tools/fuzz.sh            5 seconds a target (what make test runs)
#   tools/fuzz.sh 600        a longer run: 10 minutes a target
#
# New inputs found go to build/fuzz/corpus/<target>; an input that breaks a
# target is saved as build/fuzz/<target>_fuzz-crash-* and the script fails.
set -e
cd "$(dirname "$0")/.."

seconds=${1:-5}
case "$seconds" in
    ''|*[!0-9]*) echo "usage: tools/fuzz.sh [SECONDS]" >&2; exit 2 ;;
esac
if ! command -v clang++ >/dev/null 2>&1; then
    echo "fuzz: clang++ is missing (sh tools/install-deps.sh installs it)" >&2
    exit 1
fi

out=build/fuzz
mkdir -p "$out"
flags="-std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I."

for source in tests/fuzz/*_fuzz.cpp; do
    name=$(basename "$source" .cpp)
    target=${name%_fuzz}
    binary=$out/$name
    if [ ! -x "$binary" ] || [ -n "$(find "$source" tests/fuzz/fuzz_check.h core/package.h \
            core/package.cpp tools/pe/pe_image.h tools/pe/pe_image.cpp core/checksum.h core/checksum.cpp core/word_sum.cpp tests/checksum_reference.h -newer "$binary" 2>/dev/null)" ]; then
        clang++ $flags "$source" core/package.cpp tools/pe/pe_image.cpp core/checksum.cpp core/word_sum.cpp -o "$binary"
    fi
    mkdir -p "$out/corpus/$target"
    log=$out/$name.log
    if ! "$binary" -max_total_time="$seconds" -max_len=4096 -timeout=10 -print_final_stats=1 \
            -artifact_prefix="$out/$name-" "$out/corpus/$target" "tests/fuzz/corpus/$target" \
            >"$log" 2>&1; then
        cat "$log" >&2
        echo "fuzz: $name FAILED (log: $log)" >&2
        exit 1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz: $name: ${runs:-?} executions in $seconds s, no faults"
done
