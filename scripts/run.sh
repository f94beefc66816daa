#!/bin/bash
# The main job: builds the tool and the Windows stub, packs a folder into a
# self-extracting archive with the tool's own encoder, then lists it, tests
# every member and extracts it natively the way the stub does.
# Usage: scripts/run.sh [FOLDER]   (default: a sample folder made here)
# Set QORN_SKIP_INSTALL=1 to skip the package installation.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [ "${QORN_SKIP_INSTALL:-0}" != 1 ]; then
    if [ "$(id -u)" -eq 0 ]; then sh scripts/install-deps.sh; else sudo sh scripts/install-deps.sh; fi
fi
# What ships (build/dist: the tool, qornsfx.exe and the stub, stripped) and
# its manual page; the test tree is the test command's business.
cmake -G Ninja -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target dist docs

tool=$root/build/dist/qornsfx
out=$root/build/demo
rm -rf "$out" && mkdir -p "$out"

folder=${1:-}
if [ -z "$folder" ]; then
    # A sample folder of its own, outside the output folder, so the archive
    # holds the sample and nothing of the build.
    folder=$root/build/demo-sample/QornDemo
    rm -rf "$root/build/demo-sample"
    mkdir -p "$folder/docs"
    cp tests/data/corpus/README.md "$folder/docs/readme.txt"
    cp tests/data/corpus/raw-streams/lh0.bin "$folder/gpl.txt"
fi
folder=$(cd "$folder" && pwd)
name=$(basename "$folder")

# The shortcuts point to gpl.txt in the sample, else to the folder's first
# file (make refuses a main file that is not a member); none without a file.
main=gpl.txt
[ -f "$folder/$main" ] || main=$(cd "$folder" && find . -type f | LC_ALL=C sort | head -n 1 | sed 's|^\./||')
shortcuts=()
[ -n "$main" ] && shortcuts=(--main-file "$name\\${main//\//\\}" --start-menu checked --desktop offered)
echo "== make: $folder -> $out/sample.exe"
"$tool" make -o "$out/sample.exe" --title "Qorn SFX demo" --destination "$name" \
    "${shortcuts[@]}" "$folder"
echo "== list"
"$tool" list "$out/sample.exe"
echo "== test"
"$tool" test "$out/sample.exe"
echo "== extract"
"$tool" extract "$out/sample.exe" -d "$out/extracted"
diff -r "$folder" "$out/extracted/$name" && echo "the extracted tree equals $folder"
echo
echo "Self-extracting archive: $out/sample.exe ($(stat -c %s "$out/sample.exe") bytes)."
echo "On Windows, copy it over and run it (double-click, or 'sample.exe' in a command prompt):"
echo "it asks for the destination folder and the shortcuts, then extracts."
echo
echo "Release files in $root/build/dist:"
ls -l "$root/build/dist" | sed -n 's/^[^ ]* *[0-9]* [^ ]* *[^ ]* *\([0-9]*\) .* \([^ ]*\)$/  \2  \1 bytes/p'
echo "(debug information in $root/build/dist-debug; the .deb: cmake --build build --target package)"
