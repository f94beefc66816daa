#!/bin/bash
# Builds the two encoder benchmark sets under DIR (default /tmp/qorn-bench):
#   text: /usr/include without node/, llvm-14/, c++/ and unicode/ (regular
#         files only, symbolic links left out)
#   bin:  ELF files of 100 KB to 4 MB, by name: /usr/bin until 16 MB, then
#         lib*.so* in /usr/lib/x86_64-linux-gnu until 32 MB in all
# Usage: bench/make-sets.sh [DIR]
set -euo pipefail
work=${1:-/tmp/qorn-bench}
mkdir -p "$work/text" "$work/bin"
(cd /usr/include &&
    find . \( -path ./node -o -path ./llvm-14 -o -path ./c++ -o -path ./unicode \) -prune \
        -o -type f -print0 | tar --null -T - -cf - | tar -xf - -C "$work/text")
pick() {  # list of files on stdin, byte budget: copies ELF files in order until it is reached
    local budget=$1 total=0
    while IFS= read -r f; do
        [ "$total" -ge "$budget" ] && break
        [ "$(head -c 4 "$f" | od -An -c | tr -d ' ')" = '177ELF' ] || continue
        cp "$f" "$work/bin/"
        total=$((total + $(stat -c %s "$f")))
    done
    echo "$total"
}
used=$(find /usr/bin -maxdepth 1 -type f -size +100k -size -4M | LC_ALL=C sort | pick 16000000)
find /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -name 'lib*.so*' -size +100k -size -4M |
    LC_ALL=C sort | pick $((32000000 - used)) >/dev/null
echo "text: $(find "$work/text" -type f | wc -l) files, $(find "$work/text" -type f -printf '%s\n' | awk '{s+=$1} END {print s}') bytes"
echo "bin:  $(find "$work/bin" -type f | wc -l) files, $(find "$work/bin" -type f -printf '%s\n' | awk '{s+=$1} END {print s}') bytes"
