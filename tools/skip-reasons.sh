#!/bin/sh
# skip-reasons.sh BUILD_DIR
# After a CTest run in BUILD_DIR: one line for every test case that skipped
# itself, with the reason it gave, read from the run's log. CTest counts
# such a test as skipped but shows its output only for a failure.
log=$1/Testing/Temporary/LastTest.log
[ -f "$log" ] || exit 0
awk -v build="$1" '
    /^\[ RUN      \] / { name = $4 }
    /: Skipped$/ { getline reason; print "skipped in " build ": " name ": " reason }
' "$log"
