#!/bin/sh
# install-deps.sh [PROBE_DIR]
# Installs what the build and the tests need on a Debian 12 machine, and
# nothing when everything is already there. Run as root.
#
# Both cross compilers and the 64-bit Wine always: the shipped setup is
# 32-bit, and its 64-bit twin runs the tests everywhere. The 32-bit Wine
# (and the i386 architecture it comes from) only where this machine can run
# 32-bit programs, as probe-32bit.sh finds out (in PROBE_DIR if given).
set -e
here=$(dirname "$0")

need=""
want_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed" || need="$need $1"; }

for p in g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 xvfb locales cmake make \
         googletest imagemagick x11-utils fonts-wine clang libclang-rt-14-dev osslsigncode \
         openssl; do
    want_pkg "$p"
done

arch_missing=0
if sh "$here/probe-32bit.sh" $1 >/dev/null 2>&1; then
    dpkg --print-foreign-architectures | grep -qx i386 || arch_missing=1
    want_pkg wine32:i386
fi

locale_missing=0
locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$' || locale_missing=1

if [ "$arch_missing" = 0 ] && [ -z "$need" ] && [ "$locale_missing" = 0 ]; then
    exit 0
fi

what=""; for p in $need; do what="$what $p"; done
[ "$arch_missing" = 1 ] && what=" i386-architecture$what"
[ "$locale_missing" = 1 ] && what="$what ru_RU.UTF-8-locale"
echo "install-deps: installing$what"

if [ "$(id -u)" != 0 ]; then
    echo "install-deps: must run as root to install these" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive DEBCONF_NOWARNINGS=yes
if [ "$arch_missing" = 1 ]; then
    dpkg --add-architecture i386
fi
if [ -n "$need" ]; then
    apt-get update -qq >/dev/null
    apt-get install -y -qq --no-install-recommends $need >/dev/null
fi
if [ "$locale_missing" = 1 ]; then
    grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null ||
        echo 'ru_RU.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
fi
