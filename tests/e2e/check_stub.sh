#!/bin/sh
# The finished stub, as every self-extracting file begins:
#   check_stub.sh STUB.exe OBJDUMP
# exactly the payload offset long, "LHA's SFX " at 0x24, checksum field 0,
# importing nothing but DLLs every Windows has (a C++ runtime or pthreads
# DLL would make the file fail on a clean system), and a manifest for the
# image's own processor. The stub of every file made without --run holds no
# code of installer mode (it starts no program); the installer-mode stub
# (qornsfx-run-stub.exe) does.
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
    kernel32.dll | user32.dll | gdi32.dll | comctl32.dll | shell32.dll | ole32.dll | shlwapi.dll | advapi32.dll | msvcrt.dll) ;;
    *) fail "imports $dll" ;;
    esac
done
case "$(basename "$STUB")" in
qornsfx-run-stub.exe) want=yes ;;
*) want=no ;;
esac
if "$OBJDUMP" -p "$STUB" | grep -q 'ShellExecuteExW'; then has=yes; else has=no; fi
[ "$has" = "$want" ] || fail "starts a program: $has, should: $want"
# The manifest names the processor of the image: 64-bit Windows may refuse
# an x86 manifest on an x64 image.
case "$("$OBJDUMP" -f "$STUB" | sed -n 's/.*file format //p')" in
pei-i386) arch=x86 ;;
pei-x86-64) arch=amd64 ;;
*) fail "not a PE image" ;;
esac
manifest=$(wrestool -x --raw --type=24 "$STUB") || fail "no manifest"
n=$(printf '%s' "$manifest" | grep -c 'processorArchitecture=') || true
m=$(printf '%s' "$manifest" | grep -c "processorArchitecture=\"$arch\"") || true
[ "$n" -ge 1 ] && [ "$n" = "$m" ] || fail "the manifest does not name $arch everywhere"
echo "ok: $STUB"
