#!/bin/sh
# run.sh BUILD WINE_ARCH [WHY]
# Says in one line which build it shows: BUILD is the shipped 32-bit build
# (WINE_ARCH win32) or the 64-bit twin (win64), shown where 32-bit programs
# cannot run; WHY says why the twin was chosen.
# With a display: starts BUILD/setup.exe under Wine for the user, in the
# project's own prefix BUILD/run-prefix.
# Without one: records a demonstration. Xvfb and a Wine desktop (so that
# title bars are drawn) show the whole wizard walked by BUILD's demo
# program into a fresh copy of that prefix; one PNG per step is saved under
# BUILD/screenshots and its path printed. Everything started here is ended
# here: Xvfb, and the wineserver of the copy only.
set -u
build=$(cd "${1:-build}" && pwd) || exit 1
arch=${2:-win32}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
setup=$build/setup.exe
demo=$build/tests/e2e/demo.exe
prefix=$build/run-prefix

wine_env "$arch" "$prefix" || exit 1
# winemenubuilder would copy the shortcuts the setup makes into the Linux
# user's own menus and desktop, outside the prefix.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

[ -f "$setup" ] || { echo "run: $setup is missing; build it first" >&2; exit 1; }
if [ "$arch" = win64 ]; then
    echo "run: showing the 64-bit twin, $setup, not the shipped 32-bit setup: ${3:-WINE_ARCH is win64}"
else
    echo "run: showing the shipped 32-bit setup, $setup"
fi

if [ -n "${DISPLAY:-}" ]; then
    sh "$here/make-prefix.sh" "$arch" "$prefix" display || exit 1
    exec "$wine" "$setup"
fi

for tool in Xvfb import; do
    command -v $tool >/dev/null || { echo "run: $tool is missing (make deps)" >&2; exit 1; }
done
[ -f "$demo" ] || { echo "run: $demo is missing; build it first" >&2; exit 1; }

shots=$build/screenshots
scratch=$build/demo-prefix
signals=$build/demo-signals
xvfb_pid=
cleanup() {
    if [ -d "$scratch" ]; then WINEPREFIX=$scratch wineserver -k 2>/dev/null; fi
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# Xvfb picks a free display itself and writes its number to the given fd.
rm -rf "$signals"; mkdir -p "$signals"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$signals/display" 2>/dev/null &
xvfb_pid=$!
waited=0
until [ -s "$signals/display" ]; do
    sleep 0.1; waited=$((waited + 1))
    if [ $waited -ge 100 ] || ! kill -0 "$xvfb_pid" 2>/dev/null; then
        echo "run: Xvfb did not start" >&2; exit 1
    fi
done
export DISPLAY=:$(head -n 1 "$signals/display")

# The prefix is made once; each demonstration installs into a fresh copy.
sh "$here/make-prefix.sh" "$arch" "$prefix" display || exit 1
rm -rf "$scratch" "$shots"
cp -a "$prefix" "$scratch" || exit 1
mkdir -p "$shots"

WINEPREFIX=$scratch "$wine" explorer /desktop=murm,800x600 "$demo" "$setup" "$signals" \
    >"$signals/demo.out" 2>&1 &
wine_pid=$!

# The demo creates NAME.ready when the screen shows what NAME names, and
# goes on once the file is gone.
deadline=$(( $(date +%s) + 240 ))
status=
while :; do
    for ready in "$signals"/*.ready; do
        [ -e "$ready" ] || continue
        name=$(basename "$ready" .ready)
        sleep 0.3
        if import -window root "$shots/$name.png" 2>/dev/null; then
            echo "$shots/$name.png"
        else
            echo "run: no picture of $name" >&2
        fi
        rm -f "$ready"
    done
    if [ -f "$signals/done" ]; then status=$(cat "$signals/done"); break; fi
    if [ "$(date +%s)" -ge "$deadline" ]; then status="timed out"; break; fi
    if ! kill -0 "$wine_pid" 2>/dev/null && [ ! -f "$signals/done" ]; then
        sleep 1
        [ -f "$signals/done" ] && continue
        status="the demonstration ended early"; break
    fi
    sleep 0.1
done

if [ "$status" != ok ]; then
    echo "run: demonstration stopped: $status" >&2
    grep -v '^demo: ok$' "$signals/demo.out" >&2 2>/dev/null
    exit 1
fi
exit 0
