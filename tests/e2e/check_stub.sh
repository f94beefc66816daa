#!/bin/sh
# The finished stub, as every self-extracting file begins:
#   check_stub.sh STUB.exe OBJDUMP
# exactly the payload offset long, "LHA's SFX " at 0x24, checksum field 0,
# and importing nothing but DLLs every Windows has (a C++ runtime or
# pthreads DLL would make the file fail on a clean system).
set -eu
STUB=$1
OBJDUMP=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

[ "$(stat -c %s "$STUB")" = 45056 ] || fail "size $(stat -c %s "$STUB"), not 45056"
[ "$(dd if="$STUB" bs=1 skip=36 count=10 2>/dev/null)" = "LHA's SFX " ] || fail "no mark at 0x24"
pe=$(od -An -tu4 -j60 -N4 "$STUB" | tr -d ' ')
sum=$(od -An -tu4 -j$((pe + 88)) -N4 "$STUB" | tr -d ' ')
[ "$sum" = 0 ] || fail "PE checksum $sum, not 0"
"$OBJDUMP" -p "$STUB" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' | while read -r dll; do
    case "$dll" in
    kernel32.dll | user32.dll | gdi32.dll | comctl32.dll | shell32.dll | ole32.dll | shlwapi.dll | msvcrt.dll) ;;
    *) fail "imports $dll" ;;
    esac
done
echo "ok: $STUB"
