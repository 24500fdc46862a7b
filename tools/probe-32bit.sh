#!/bin/sh
# probe-32bit.sh [DIR]
# Exit 0 when this machine runs 32-bit Linux programs, which Wine's 32-bit
# loader needs; otherwise exit 1 and say why in one line. It does not guess
# from the architecture's name: some x86-64 kernels have 32-bit emulation
# switched off. It starts a 93-byte i386 program that does nothing but exit
# with status 42 (an ELF header, one loadable segment, and
# xor eax,eax; inc eax; xor ebx,ebx; mov bl,42; int 0x80), written into a
# scratch folder under DIR (default: the system's temporary folder, which
# must then allow programs to run).
mkdir -p "${1:-${TMPDIR:-/tmp}}" && dir=$(mktemp -d -p "${1:-${TMPDIR:-/tmp}}") || exit 1
trap 'rm -rf "$dir"' EXIT
probe=$dir/probe32
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' >"$probe"
printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' >>"$probe"
printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000' >>"$probe"
printf '\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010' >>"$probe"
printf '\000\200\004\010\135\000\000\000\135\000\000\000\005\000\000\000' >>"$probe"
printf '\000\020\000\000\061\300\100\061\333\263\052\315\200' >>"$probe"
chmod +x "$probe"
"$probe" 2>"$dir/err"
status=$?
[ "$status" = 42 ] && exit 0
why=$(head -n 1 "$dir/err" | sed 's/^.*: //')
echo "32-bit Linux programs do not run here (a 32-bit probe program: ${why:-exit status $status})"
exit 1
