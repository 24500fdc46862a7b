#!/bin/sh
# install-deps.sh [PROBE_DIR]
# Installs what the build and the tests need on a Debian 12 machine, and
# nothing when everything is already there. Run as root.
#
# Both cross compilers and the 64-bit Wine always: the shipped setup is
# 32-bit, and its 64-bit twin runs the tests everywhere. The 32-bit Wine
# (and the i386 architecture it comes from) only where this machine can run
# 32-bit programs, as probe-32bit.sh finds out (in PROBE_DIR if given).
#
# A mirror caught mid-sync serves an index whose size does not match its
# Release file. The index update is then tried again; if an index still
# fails, set-up goes on without it and says which. The 32-bit Wine is the
# one install such a gap can break: its i386 libraries must match the amd64
# ones of the same version, so when the i386 list of a suite is missing it
# is installed once more with that suite held below the others. If it still
# cannot be installed, set-up says so and goes on: make test and make run
# then take the 64-bit twin, as on a machine without 32-bit support.
set -e
here=$(dirname "$0")

need=""
want_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed" || need="$need $1"; }

for p in g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 xvfb locales cmake make \
         googletest imagemagick x11-utils fonts-wine clang libclang-rt-14-dev osslsigncode \
         openssl; do
    want_pkg "$p"
done
common=$need

need=""
arch_missing=0
if sh "$here/probe-32bit.sh" $1 >/dev/null 2>&1; then
    dpkg --print-foreign-architectures | grep -qx i386 || arch_missing=1
    want_pkg wine32:i386
fi
wine32=$need

locale_missing=0
locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$' || locale_missing=1

if [ "$arch_missing" = 0 ] && [ -z "$common$wine32" ] && [ "$locale_missing" = 0 ]; then
    exit 0
fi

what=""; for p in $common $wine32; do what="$what $p"; done
[ "$arch_missing" = 1 ] && what=" i386-architecture$what"
[ "$locale_missing" = 1 ] && what="$what ru_RU.UTF-8-locale"
echo "install-deps: installing$what"

if [ "$(id -u)" != 0 ]; then
    echo "install-deps: must run as root to install these" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive DEBCONF_NOWARNINGS=yes
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The index update, up to three times a few seconds apart while an index
# fails. Afterwards $scratch/failed lists the addresses that still failed.
update_indexes() {
    for try in 1 2 3; do
        if apt-get update -qq >/dev/null 2>"$scratch/update.err"; then
            : >"$scratch/failed"
            return 0
        fi
        sed -n 's/.*Failed to fetch \([^ ]*\).*/\1/p' "$scratch/update.err" >"$scratch/failed"
        [ "$try" = 3 ] || sleep 5
    done
    if [ -s "$scratch/failed" ]; then
        echo "install-deps: going on without an index that failed three times: $(tr '\n' ' ' <"$scratch/failed")"
    else
        echo "install-deps: apt-get update failed three times, going on: $(grep -m 1 '^E:' "$scratch/update.err")"
    fi
}

install_pkgs() {
    apt-get install -y -qq --no-install-recommends "$@" >"$scratch/install.out" 2>&1
}

# Preferences for one install that take every package from the suites that
# have an i386 list, so that each amd64 library pairs with an i386 one of
# the same version: a library that came from a suite whose i386 list failed
# goes back to its version in the others (the one downgrade allowed).
hold_back_failed_i386_suites() {
    grep -q 'binary-i386/' "$scratch/failed" || return 1
    apt-cache policy | sed -n 's/.*release .*n=\([^,]*\),.*b=i386.*/\1/p' | sort -u >"$scratch/suites"
    [ -s "$scratch/suites" ] || return 1
    while read -r suite; do
        printf 'Package: *\nPin: release n=%s\nPin-Priority: 1001\n\n' "$suite"
    done <"$scratch/suites" >"$scratch/hold-back.pref"
    echo "install-deps: installing the 32-bit Wine from $(tr '\n' ' ' <"$scratch/suites")alone, the suite of the failed i386 index held back"
}

if [ "$arch_missing" = 1 ]; then
    dpkg --add-architecture i386
fi
if [ -n "$common$wine32" ]; then
    update_indexes
fi
if [ -n "$common" ] && ! install_pkgs $common; then
    cat "$scratch/install.out" >&2
    echo "install-deps: could not install$common" >&2
    exit 1
fi
if [ -n "$wine32" ] && ! install_pkgs $wine32; then
    if ! { hold_back_failed_i386_suites &&
           install_pkgs --allow-downgrades -o Dir::Etc::Preferences="$scratch/hold-back.pref" $wine32; }; then
        echo "install-deps: the 32-bit Wine could not be installed ($(grep -m 1 '^E:' "$scratch/install.out" || echo 'apt-get failed')); the tests and make run take the 64-bit twin"
    fi
fi
if [ "$locale_missing" = 1 ]; then
    grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null ||
        echo 'ru_RU.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
fi
