#!/bin/sh
# make-prefix.sh ARCH PREFIX headless|display
# Makes a Wine prefix of ARCH (win32 or win64, see wine-env.sh) with the
# Russian locale once; later calls find it ready and return at once. A
# headless prefix draws nothing (Graphics is null) but its windows exist
# and take messages. Several callers may race for the same prefix: a lock
# lets one make it.
set -e
arch=$1 prefix=$2 mode=$3
. "$(dirname "$0")/wine-env.sh"
wine_env "$arch" "$prefix"
[ -f "$prefix/.ready" ] && exit 0
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
[ -f "$prefix/.ready" ] && exit 0
rm -rf "$prefix"
"$wine" wineboot -i >/dev/null 2>&1
if [ "$mode" = headless ]; then
    "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
fi
# A crashing program must end, not wait behind the crash dialog.
"$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
# No menu entries in the real $HOME for the shortcuts that programs make
# here (the menu builder would also hold their folders open for a while).
"$wine" reg add 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /d '' /f >/dev/null 2>&1
wineserver -w
# Where 32-bit programs cannot run, wineboot leaves the Fonts folder of a
# 64-bit prefix empty, and title bars draw their buttons as the letters
# "0 1 r" instead of in the Marlett font: copy Wine's own fonts in.
fonts=$prefix/drive_c/windows/Fonts
if [ ! -e "$fonts/marlett.ttf" ] && [ -d /usr/share/wine/fonts ]; then
    mkdir -p "$fonts" && cp /usr/share/wine/fonts/* "$fonts/"
fi
# The user folders of a new prefix link into $HOME; make them plain folders
# so that shortcuts made by tests stay inside the prefix.
for link in "$prefix"/drive_c/users/*/*; do
    if [ -L "$link" ]; then rm "$link"; mkdir -p "$link"; fi
done
echo "$arch" >"$prefix/.ready"
