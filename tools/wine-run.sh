#!/bin/sh
# wine-run.sh ARCH PREFIX PROGRAM [ARGS...]
# Runs a Windows program under Wine in PREFIX, a headless prefix of ARCH
# (win32 or win64) with the Russian locale, making the prefix the first
# time it is used. CTest uses this as the emulator of every target test.
#
# The first program to run in a prefix also starts Wine's own processes
# (the server, services, the desktop), and they keep its output open for as
# long as they live: CTest, which waits for a test's output to close, would
# take that test to last until every other test had ended, and time it out.
# So the program writes to a file, and what it writes is passed on from
# there while it runs; this script ends with the program.
set -e
arch=$1 prefix=$2
shift 2
here=$(dirname "$0")
. "$here/wine-env.sh"
wine_env "$arch" "$prefix"
"$here/make-prefix.sh" "$arch" "$prefix" headless
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$wine" "$@" >"$out" 2>&1 </dev/null &
program=$!
tail -q -s 0.2 -f --pid=$program "$out"
status=0
wait $program || status=$?
exit $status
