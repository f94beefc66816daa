#!/bin/sh
# Exits 0 when this machine's kernel runs 32-bit x86 programs, 1 when not.
# It runs a 95-byte i386 ELF program written here that exits with status 42
# through the int 0x80 system call; a kernel without IA32 emulation refuses
# it ("Exec format error"). Needs nothing but a shell: no Wine, no compiler.
case "$(uname -m)" in x86_64 | i?86) ;; *) exit 1 ;; esac
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
f=$dir/i386
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' >"$f"
printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' >>"$f"
printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000' >>"$f"
printf '\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010' >>"$f"
printf '\000\200\004\010\137\000\000\000\137\000\000\000\005\000\000\000' >>"$f"
printf '\000\020\000\000\270\001\000\000\000\061\333\263\052\315\200' >>"$f"
chmod +x "$f"
status=0
"$f" 2>/dev/null || status=$?
[ "$status" -eq 42 ]
