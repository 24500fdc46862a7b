#!/bin/sh
# wine-run.sh ARCH PREFIX PROGRAM [ARGS...]
# Runs a Windows program under Wine in PREFIX, a headless prefix of ARCH
# (win32 or win64) with the Russian locale, making the prefix the first
# time it is used. CTest uses this as the emulator of every target test.
set -e
arch=$1 prefix=$2
shift 2
here=$(dirname "$0")
. "$here/wine-env.sh"
wine_env "$arch" "$prefix"
"$here/make-prefix.sh" "$arch" "$prefix" headless
exec "$wine" "$@"
