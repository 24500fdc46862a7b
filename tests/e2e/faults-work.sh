#!/bin/sh
# faults-work.sh prepare|clean DIR
# The work folder of the fault tests (faults_test), run by CTest before and
# after them whatever their result.
#   prepare  an empty DIR, and a small file system mounted at DIR/small-disk
#            for the full-disk case when this machine lets us mount one (as
#            root in most containers it does); without it that case is
#            skipped and says why.
#   clean    unmounts it, lifts the immutable flags that the read-only cases
#            set (root ignores the read-only attribute under Wine), and
#            removes DIR.
set -u
command=${1:-}
dir=${2:-}
[ -n "$dir" ] || { echo "usage: faults-work.sh prepare|clean DIR" >&2; exit 2; }

clean() {
    if mountpoint -q "$dir/small-disk" 2>/dev/null; then
        umount "$dir/small-disk" 2>/dev/null || umount -l "$dir/small-disk"
    fi
    if [ -d "$dir" ]; then
        chattr -R -i "$dir" 2>/dev/null
        rm -rf "$dir"
    fi
}

case $command in
prepare)
    clean
    mkdir -p "$dir/small-disk"
    if mount -t tmpfs -o size=1m,mode=0755 murm-small-disk "$dir/small-disk" 2>/dev/null; then
        echo "a 1 MB file system is mounted at $dir/small-disk"
    else
        echo "cannot mount a small file system here: the full-disk case will be skipped"
    fi
    ;;
clean)
    clean
    ;;
*)
    echo "usage: faults-work.sh prepare|clean DIR" >&2
    exit 2
    ;;
esac
exit 0
