# Sourced by every script that runs Wine: wine_env ARCH PREFIX exports what
# all the project's Wine calls share and sets $wine to the loader to call.
#
# ARCH is win32 (the shipped 32-bit setup and its tests) or win64 (the
# 64-bit twin, for machines whose kernel cannot run 32-bit programs).
# Debian's /usr/bin/wine picks the 32-bit loader whenever its file exists,
# even where the kernel refuses to run it, so the twin names the 64-bit
# loader itself; WINELOADER makes the processes Wine starts use it too.
wine_env() {
    case "$1" in
        win32) wine=wine ;;
        win64) wine=/usr/lib/wine/wine64; export WINELOADER=$wine ;;
        *) echo "wine-env: unknown architecture '$1' (win32 or win64)" >&2; return 1 ;;
    esac
    export WINEARCH="$1" WINEPREFIX="$2" WINEDEBUG=-all LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8
    # No Mono or Gecko installers.
    export WINEDLLOVERRIDES="mscoree,mshtml="
}
