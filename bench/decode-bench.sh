#!/bin/bash
# Decoding speed against the peers, in one run on the same archives.
#
# Sets from bench/make-sets.sh: the text set as -lh5- and the binary set as
# -lh7- (both by jlha), and the text set as -lh1-, -lzs-, -lz5-, -lh2- and
# -lh3- by qorn-bench-pack (no installed tool writes those; lhasa reads all
# but -lh2- and -lh3-, 7-Zip none of them).
#
# 1. Test mode (decode + CRC, nothing written): the tools take turns, RUNS
#    rounds (default 5), the best wall time of each counts. qornsfx runs on
#    every core and on one (QORN_DECODE_THREADS=1); "par" is their ratio,
#    "net" the same without the start-up (a one-member archive's time).
# 2. Where valgrind is installed: instructions per output byte (callgrind),
#    with the count of a one-member archive subtracted (start-up), of the
#    one-thread run (the decoder's own cost).
# 3. Extraction to tmpfs: qornsfx extract on every core and on one, against
#    7z x, best of RUNS.
#
# Usage: bench/decode-bench.sh [BUILD_DIR]
#   QORN_BENCH_DIR (default /tmp/qorn-bench): sets and archives
#   RUNS, NO_CALLGRIND=1, EXTRACT_DIR (default /dev/shm/qorn-bench-x)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
tool=$build/tools/qornsfx
packer=$build/bench/qorn-bench-pack
work=${QORN_BENCH_DIR:-/tmp/qorn-bench}
runs=${RUNS:-5}
xdir=${EXTRACT_DIR:-/dev/shm/qorn-bench-x}

[ -d "$work/text" ] || "$root/bench/make-sets.sh" "$work" >/dev/null
cd "$work"
[ -f text-lh5.lzh ] || jlha a2o5 text-lh5.lzh text >/dev/null
[ -f bin-lh7.lzh ] || jlha a2o7 bin-lh7.lzh bin >/dev/null
for m in lh1 lzs lz5 lh2 lh3; do
    [ -f text-$m.lzh ] || "$packer" text-$m.lzh $m "$work/text"
done
if [ ! -f tiny.lzh ]; then
    mkdir -p tiny && echo hello >tiny/a.txt && jlha a2o5 tiny.lzh tiny >/dev/null
fi

# Wall time of one run in seconds; output discarded. The clock is bash's
# own: reading it through date added a fork and an exec (about 6 ms here)
# to every run, a larger share of the fast tools' times than of the slow.
wall() {
    local s e
    s=${EPOCHREALTIME/,/.}
    "$@" >/dev/null 2>&1 || true
    e=${EPOCHREALTIME/,/.}
    echo "$e - $s" | bc -l
}
min() { if (($(echo "$1 < $2" | bc -l))); then echo "$1"; else echo "$2"; fi; }
bytes_of() { "$tool" list --archive "$1" | awk '/^total:/ {print $6}'; }

# set  archive  peers (l: lhasa, z: 7-Zip)
cases=("text -lh5- text-lh5.lzh lz" "bin -lh7- bin-lh7.lzh lz" "text -lh1- text-lh1.lzh l"
    "text -lzs- text-lzs.lzh l" "text -lz5- text-lz5.lzh l" "text -lh2- text-lh2.lzh -"
    "text -lh3- text-lh3.lzh -")

one() { QORN_DECODE_THREADS=1 "$@"; }

# The start-up (a one-member archive, one thread) that no number of threads
# shortens: "net" is the ratio of the times without it.
t0=999 x0=999
for _ in $(seq "$runs"); do
    t0=$(min "$t0" "$(wall one "$tool" test --archive tiny.lzh)")
    rm -rf "$xdir" && mkdir -p "$xdir"
    x0=$(min "$x0" "$(wall one "$tool" extract --archive "$work/tiny.lzh" -d "$xdir")")
done
net() { printf '%.2f' "$(echo "($1 - $3) / ($2 - $3)" | bc -l)"; }

echo "Test mode, best of $runs alternating runs (wall seconds; MB/s of output;"
printf 'start-up %.3f s):\n' "$t0"
printf '%-5s %-6s %7s %9s %9s %6s %6s %9s %9s %9s %8s %8s\n' set method MB qornsfx "1 thread" par \
    net lhasa 7z "MB/s" "x lhasa" "x 7z"
for c in "${cases[@]}"; do
    read -r set method lzh peers <<<"$c"
    q=999 q1=999 l=999 z=999
    for _ in $(seq "$runs"); do
        q=$(min "$q" "$(wall "$tool" test --archive "$lzh")")
        q1=$(min "$q1" "$(wall one "$tool" test --archive "$lzh")")
        [[ $peers == *l* ]] && l=$(min "$l" "$(wall lhasa t "$lzh")")
        [[ $peers == *z* ]] && z=$(min "$z" "$(wall 7z t -tlzh "$lzh")")
    done
    mb=$(echo "$(bytes_of "$lzh") / 1000000" | bc -l)
    ratio() { [ "$1" = 999 ] && echo - || printf '%.2f' "$(echo "$1 / $q" | bc -l)"; }
    secs() { [ "$1" = 999 ] && echo - || printf '%.3f' "$1"; }
    printf '%-5s %-6s %7.1f %9.3f %9.3f %6.2f %6s %9s %9s %9.0f %8s %8s\n' "$set" "$method" "$mb" \
        "$q" "$q1" "$(echo "$q1 / $q" | bc -l)" "$(net "$q1" "$q" "$t0")" "$(secs "$l")" \
        "$(secs "$z")" "$(echo "$mb / $q" | bc -l)" "$(ratio "$l")" "$(ratio "$z")"
done

if [ -z "${NO_CALLGRIND:-}" ] && command -v valgrind >/dev/null; then
    echo
    echo "Instructions per output byte (callgrind, start-up subtracted):"
    irs() {  # instructions of one run, on one thread
        local out
        out=$(mktemp)
        QORN_DECODE_THREADS=1 valgrind --tool=callgrind --callgrind-out-file="$out" "$@" \
            >/dev/null 2>&1 || true
        awk '/^(summary|totals):/ {print $2; exit}' "$out"
        rm -f "$out"
    }
    per_byte() {  # instructions of the archive, of tiny.lzh, output bytes
        printf '%.1f' "$(echo "($1 - $2) / $3" | bc -l)"
    }
    # /usr/bin/7z is a shell script on Debian; count the program it starts.
    sevenzip=7z
    [ -x /usr/lib/p7zip/7z ] && sevenzip=/usr/lib/p7zip/7z
    q0=$(irs "$tool" test --archive tiny.lzh)
    l0=$(irs lhasa t tiny.lzh)
    z0=$(irs "$sevenzip" t -tlzh tiny.lzh)
    printf '%-5s %-6s %9s %9s %9s\n' set method qornsfx 7z lhasa
    for c in "${cases[@]}"; do
        read -r set method lzh peers <<<"$c"
        n=$(bytes_of "$lzh")
        qi=$(per_byte "$(irs "$tool" test --archive "$lzh")" "$q0" "$n")
        zi=- li=-
        [[ $peers == *z* ]] && zi=$(per_byte "$(irs "$sevenzip" t -tlzh "$lzh")" "$z0" "$n")
        [[ $peers == *l* ]] && li=$(per_byte "$(irs lhasa t "$lzh")" "$l0" "$n")
        printf '%-5s %-6s %9s %9s %9s\n' "$set" "$method" "$qi" "$zi" "$li"
    done
fi

echo
echo "Extraction to $(dirname "$xdir") (best of $runs alternating runs, wall seconds;"
printf 'start-up %.3f s):\n' "$x0"
printf '%-5s %-6s %9s %9s %6s %6s %9s %8s\n' set method qornsfx "1 thread" par net "7z x" "x 7z"
for c in "text -lh5- text-lh5.lzh" "bin -lh7- bin-lh7.lzh"; do
    read -r set method lzh <<<"$c"
    q=999 q1=999 z=999
    for _ in $(seq "$runs"); do
        rm -rf "$xdir" && mkdir -p "$xdir"
        q=$(min "$q" "$(wall "$tool" extract --archive "$work/$lzh" -d "$xdir")")
        rm -rf "$xdir" && mkdir -p "$xdir"
        q1=$(min "$q1" "$(wall one "$tool" extract --archive "$work/$lzh" -d "$xdir")")
        rm -rf "$xdir" && mkdir -p "$xdir"
        z=$(min "$z" "$(wall 7z x -y -tlzh -o"$xdir" "$work/$lzh")")
    done
    rm -rf "$xdir"
    printf '%-5s %-6s %9.3f %9.3f %6.2f %6s %9.3f %8.2f\n' "$set" "$method" "$q" "$q1" \
        "$(echo "$q1 / $q" | bc -l)" "$(net "$q1" "$q" "$x0")" "$z" "$(echo "$z / $q" | bc -l)"
done
