#!/bin/sh
# suite.sh: runs one of make test's suites and records how it went, so that
# make test can go on through every suite and end with one summary.
#
#   suite.sh ctest NAME BUILD_LABEL DIR   CTest in the build tree DIR (for a
#                                         Wine tree: the reasons of the cases
#                                         that skipped, then the end of what
#                                         its test prefix still runs)
#   suite.sh fuzz NAME BUILD_LABEL        tools/fuzz.sh
#   suite.sh summary                      one line a suite; exit 1 when any
#                                         suite failed or never reported
#
# The records go to $SUITE_RESULTS (default build/test-results), one line a
# suite: NAME|BUILD_LABEL|passed|failed|skipped.
results=${SUITE_RESULTS:-build/test-results}
here=$(dirname "$0")
jobs=$(nproc 2>/dev/null || echo 2)

record() { mkdir -p "$(dirname "$results")"; echo "$1|$2|$3|$4|$5" >>"$results"; }

case "$1" in
ctest)
    name=$2 label=$3 dir=$4
    junit=$(cd "$dir" 2>/dev/null && pwd)/test-results.xml
    rm -f "$junit"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" --output-junit "$junit"
    rc=$?
    if [ -d "$dir/wineprefix" ]; then
        sh "$here/skip-reasons.sh" "$dir"
        WINEPREFIX=$(cd "$dir" && pwd)/wineprefix wineserver -k 2>/dev/null
    fi
    if [ -f "$junit" ]; then
        passed=$(grep -c 'status="run"' "$junit")
        failed=$(grep -c 'status="fail"' "$junit")
        skipped=$(grep -c 'status="\(skipped\|disabled\|notrun\)"' "$junit")
    else
        passed=0 failed=1 skipped=0
    fi
    # A run that failed without a failing case (a crash of CTest itself,
    # a timeout it could not record) still counts as a failure.
    [ "$rc" != 0 ] && [ "$failed" = 0 ] && failed=1
    record "$name" "$label" "$passed" "$failed" "$skipped"
    exit $rc ;;
fuzz)
    name=$2 label=$3
    out=$(mktemp)
    sh "$here/fuzz.sh" 2>&1 | tee "$out"
    passed=$(grep -c 'no faults$' "$out")
    failed=$(grep -c 'FAILED' "$out")
    rm -f "$out"
    [ "$passed" -gt 0 ] || [ "$failed" -gt 0 ] || failed=1
    record "$name" "$label" "$passed" "$failed" 0
    [ "$failed" = 0 ] ;;
summary)
    [ -f "$results" ] || { echo "make test: no suite reported"; exit 1; }
    echo
    echo "make test: summary"
    awk -F'|' '
        BEGIN { printf "  %-24s %-34s %7s %7s %8s\n", "suite", "build", "passed", "failed", "skipped" }
        { printf "  %-24s %-34s %7d %7d %8d\n", $1, $2, $3, $4, $5; bad += $4 }
        END { if (bad) { print "make test: FAILED"; exit 1 } print "make test: every suite passed" }
    ' "$results" ;;
*)
    echo "usage: suite.sh ctest NAME BUILD_LABEL DIR | fuzz NAME BUILD_LABEL | summary" >&2
    exit 2 ;;
esac
