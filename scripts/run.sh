#!/bin/bash
# The main job: builds the tool and the Windows stub, turns a folder into a
# self-extracting archive and checks it: lists it, tests every member and
# extracts it natively the way the stub does.
# Usage: scripts/run.sh [FOLDER]   (default: a sample folder made here)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [ "${QORN_SKIP_INSTALL:-0}" != 1 ]; then
    if [ "$(id -u)" -eq 0 ]; then sh scripts/install-deps.sh; else sudo sh scripts/install-deps.sh; fi
fi
cmake -G Ninja -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc 2>/dev/null || echo 2)"

tool=build/tools/qornsfx
out=build/demo
rm -rf "$out" && mkdir -p "$out"
folder=${1:-}
if [ -z "$folder" ]; then
    folder=$out/sample
    mkdir -p "$folder/docs"
    cp tests/data/corpus/README.md "$folder/docs/readme.txt"
    cp tests/data/corpus/raw-streams/lh0.bin "$folder/gpl.txt"
fi
jlha a2o5 "$out/sample.lzh" -C "$(dirname "$folder")" "$(basename "$folder")" >/dev/null 2>&1 ||
    (cd "$(dirname "$folder")" && jlha a2o5 "$root/$out/sample.lzh" "$(basename "$folder")" >/dev/null)
"$tool" make -o "$out/sample.exe" --title "Qorn SFX demo" --destination "QornDemo" \
    --main-file "$(basename "$folder")/gpl.txt" --start-menu 3 --desktop 1 --send-to 0 \
    "$out/sample.lzh"
"$tool" list "$out/sample.exe"
"$tool" test "$out/sample.exe"
"$tool" extract "$out/sample.exe" -d "$out/extracted"
echo "self-extracting archive: $out/sample.exe; extracted into $out/extracted"
