#!/bin/bash
# Checks what a release ships, from a finished build tree:
#   scripts/check-release.sh [BUILD]      (default: build)
# - build/dist holds the programs stripped (their debug information apart);
# - the .deb builds and lintian reports no error in it;
# - a second build of the same commit in another folder gives byte-identical
#   stub, tools and self-extracting files (plain, and with an icon and
#   version texts).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=$(cd "${1:-build}" && pwd)
again=$root/build-again
jobs=$(nproc 2>/dev/null || echo 2)
fail() { echo "check-release: $*" >&2; exit 1; }
bytes() { stat -c %s "$1" | sed ':a;s/\B[0-9]\{3\}\>/,&/;ta'; }

echo "-- stripped programs"
dist=$build/dist
for f in "$dist/qornsfx" "$dist/qornsfx.exe"; do
    [ -f "$f" ] || { echo "   $(basename "$f"): not built here"; continue; }
    if objdump -h "$f" 2>/dev/null | grep -q '\.debug_' ||
        x86_64-w64-mingw32-objdump -h "$f" 2>/dev/null | grep -q '\.debug_'; then
        fail "$f carries debug information"
    fi
    echo "   $(basename "$f"): $(bytes "$f") bytes; debug information apart:" \
        "$(bytes "$build/dist-debug/$(basename "$f").debug") bytes"
done

echo "-- Debian package"
cmake --build "$build" --target package >/dev/null
deb=$(ls "$build"/qornsfx_*.deb)
echo "   $(basename "$deb"): $(bytes "$deb") bytes"
command -v lintian >/dev/null || fail "lintian is not installed"
status=0
out=$(lintian --fail-on error "$deb" 2>&1) || status=$?
printf '%s\n' "$out" | grep -v -e 'running with root privileges' -e '^$' | sed 's/^/   lintian: /' || true
[ "$status" = 0 ] || fail "lintian reports errors in $deb"
echo "   lintian: no error"

echo "-- reproducible: a second build in $again"
rm -rf "$again"
cmake -G Ninja -S . -B "$again" -DCMAKE_BUILD_TYPE="$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' \
    "$build/CMakeCache.txt")" -DBUILD_TESTING=OFF >/dev/null
cmake --build "$again" -j "$jobs" --target dist >/dev/null
compared=0
for f in "$dist"/*; do
    name=$(basename "$f")
    cmp -s "$f" "$again/dist/$name" || fail "two builds give different $name"
    compared=$((compared + 1))
done
[ "$compared" -ge 2 ] || fail "only $compared files in $dist"
sample=$again/sample
mkdir -p "$sample/QornDemo/docs"
cp tests/data/corpus/README.md "$sample/QornDemo/docs/readme.txt"
cp tests/data/corpus/raw-streams/lh0.bin "$sample/QornDemo/gpl.txt"
touch -d '2026-01-02 03:04:05' "$sample/QornDemo/docs/readme.txt" "$sample/QornDemo/gpl.txt"
for tree in "$build" "$again"; do
    "$tree/dist/qornsfx" make -o "$tree/repro-plain.exe" --title "Qorn SFX" \
        --destination QornDemo "$sample/QornDemo" >/dev/null
    "$tree/dist/qornsfx" make -o "$tree/repro-icon.exe" --icon resources/qornsfx.ico \
        --product-name "Qorn demo" --company "Qorn" --file-version 1.2.3 \
        "$sample/QornDemo" >/dev/null
done
for sfx in repro-plain.exe repro-icon.exe; do
    cmp -s "$build/$sfx" "$again/$sfx" || fail "two builds make different self-extracting files ($sfx)"
done
echo "   identical: $(cd "$dist" && echo *) and two self-extracting files"
rm -rf "$again" "$build"/repro-*.exe
