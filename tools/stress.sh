#!/bin/sh
# stress.sh RUNS REGEX BUILD_DIR...
# The tests whose names match REGEX, in each Wine build tree given, each
# repeated up to RUNS times until it fails (ctest --repeat until-fail),
# while one busy loop per CPU keeps the machine fully loaded. A test that
# races the program it drives shows it here sooner than on an idle machine.
# The load is started here and ended here, whatever happens.
set -u
runs=$1 regex=$2
shift 2
cpus=$(nproc 2>/dev/null || echo 2)

load=""
cleanup() {
    [ -n "$load" ] && kill $load 2>/dev/null
    for build in "$@"; do
        [ -d "$build/wineprefix" ] && WINEPREFIX=$(cd "$build" && pwd)/wineprefix wineserver -k 2>/dev/null
    done
}
trap 'cleanup "$@"' EXIT
trap 'exit 1' INT TERM HUP

i=0
while [ $i -lt "$cpus" ]; do
    sh -c 'while :; do :; done' &
    load="$load $!"
    i=$((i + 1))
done
echo "stress: $cpus busy loops on $cpus CPUs; tests matching '$regex', up to $runs runs each"

rc=0
for build in "$@"; do
    started=$(date +%s)
    ctest --test-dir "$build" -R "$regex" --repeat until-fail:"$runs" --output-on-failure \
        -j "$cpus" >"$build/stress.log" 2>&1
    status=$?
    took=$(( $(date +%s) - started ))
    summary=$(grep -E 'tests passed|tests failed' "$build/stress.log" | tail -n 1)
    echo "stress: $build: ${summary:-no result} in ${took}s, up to $runs runs each (log: $build/stress.log)"
    if [ $status != 0 ]; then
        grep -E '\*\*\*Failed|Timeout|\(Failed\)' "$build/stress.log" | sed 's/^/stress:   /'
        rc=1
    fi
done
exit $rc
