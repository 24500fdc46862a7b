#!/bin/sh
# wine-run.sh PREFIX PROGRAM [ARGS...]
# Runs a Windows program under Wine in PREFIX, a headless 32-bit prefix with
# the Russian locale, making the prefix the first time it is used. CTest
# uses this as the emulator of every target test.
set -e
prefix=$1
shift
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8
# No Mono or Gecko installers.
export WINEDLLOVERRIDES="mscoree,mshtml="
here=$(dirname "$0")
"$here/make-prefix.sh" "$prefix" headless
exec wine "$@"
