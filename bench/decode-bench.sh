#!/bin/bash
# Decoding speed against the peers, in one run on the same archives.
# Archives are made with jlha from a text set (/usr/include) and a binary set
# (shared libraries), one per method; each decoder tests them (decode + CRC,
# nothing written) and the best of three runs counts.
# Usage: bench/decode-bench.sh [BUILD_DIR]   (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
tool=$build/tools/qornsfx
work=${QORN_BENCH_DIR:-/tmp/qorn-bench}
mkdir -p "$work"

if [ ! -d "$work/text" ]; then
    mkdir -p "$work/text" "$work/binary"
    cp -r /usr/include/. "$work/text/" 2>/dev/null || true
    find /usr/lib/x86_64-linux-gnu -maxdepth 1 -name '*.so*' -type f -size +200k | head -40 |
        xargs -I{} cp {} "$work/binary/"
fi

best() {  # best wall time of three runs, in seconds
    local b=999999
    for _ in 1 2 3; do
        local s e t
        s=$(date +%s.%N)
        "$@" >/dev/null 2>&1 || true
        e=$(date +%s.%N)
        t=$(echo "$e - $s" | bc -l)
        if (( $(echo "$t < $b" | bc -l) )); then b=$t; fi
    done
    echo "$b"
}

printf '%-6s %-7s %10s %10s %10s %10s %8s %8s\n' set method "MB" qornsfx lhasa 7z "x lhasa" "x 7z"
for set in text binary; do
    for m in 5 6 7; do
        lzh=$work/$set-lh$m.lzh
        [ -f "$lzh" ] || (cd "$work" && jlha a2o$m "$lzh" "$set" >/dev/null)
        bytes=$("$tool" list --archive "$lzh" | awk '/^total:/ {print $6}')
        mb=$(echo "$bytes / 1000000" | bc -l)
        q=$(best "$tool" test --archive "$lzh")
        l=$(best lhasa t "$lzh")
        z=$(best 7z t -tlzh "$lzh")
        printf '%-6s -lh%s-  %10.1f %10.1f %10.1f %10.1f %8.2f %8.2f\n' "$set" "$m" "$mb" \
            "$(echo "$mb / $q" | bc -l)" "$(echo "$mb / $l" | bc -l)" "$(echo "$mb / $z" | bc -l)" \
            "$(echo "$l / $q" | bc -l)" "$(echo "$z / $q" | bc -l)"
    done
done
echo "(MB/s of output; x = speed ratio of qornsfx to the peer)"
