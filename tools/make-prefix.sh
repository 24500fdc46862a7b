#!/bin/sh
# make-prefix.sh PREFIX headless|display
# Makes a 32-bit Wine prefix with the Russian locale once; later calls find
# it ready and return at once. A headless prefix draws nothing (Graphics is
# null) but its windows exist and take messages. Several callers may race
# for the same prefix: a lock lets one make it.
set -e
prefix=$1
mode=$2
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8
# No Mono or Gecko installers.
export WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$prefix/.ready" ] && exit 0
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
[ -f "$prefix/.ready" ] && exit 0
rm -rf "$prefix"
wineboot -i >/dev/null 2>&1
if [ "$mode" = headless ]; then
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
fi
# A crashing program must end, not wait behind the crash dialog.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
# No menu entries in the real $HOME for the shortcuts that programs make
# here (the menu builder would also hold their folders open for a while).
wine reg add 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /d '' /f >/dev/null 2>&1
wineserver -w
# The user folders of a new prefix link into $HOME; make them plain folders
# so that shortcuts made by tests stay inside the prefix.
for link in "$prefix"/drive_c/users/*/*; do
    if [ -L "$link" ]; then rm "$link"; mkdir -p "$link"; fi
done
touch "$prefix/.ready"
