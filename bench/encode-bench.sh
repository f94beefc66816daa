#!/bin/bash
# Compares qornsfx pack with jlha on a text set and a binary set: archive
# sizes, wall and CPU (user + sys) times and peak memory per method. Each
# tool runs RUNS times (default 3), the two in turn, and the best wall and
# the best CPU time count, as other work on the machine only ever adds.
# METHODS lists the methods (default "5 7"). A second row per method packs
# with --effort max (lv max). CHECK=1 also tests every archive of ours with
# lhasa and 7-Zip.
#   bench/encode-bench.sh QORNSFX TEXT_DIR BIN_DIR [WORK_DIR]
# bench/make-sets.sh builds the two sets; bench/README.md has the figures.
set -euo pipefail
work=${4:-/tmp/qorn-encode-bench}
mkdir -p "$work"
tool=$(realpath "$1") text=$(realpath "$2") bin=$(realpath "$3") work=$(realpath "$work")
runs=${RUNS:-3}
methods=${METHODS:-5 7}

best() {  # smaller of two decimal numbers
    awk -v a="$1" -v b="$2" 'BEGIN { print (a < b ? a : b) }'
}
# Runs once; sets wall, cpu and rss (MB) from /usr/bin/time.
measure() {  # archive command...
    local archive=$1
    shift
    rm -f "$archive"
    /usr/bin/time -f '%e %U %S %M' -o "$archive.time" "$@" >/dev/null
    read -r wall user sys rss <"$archive.time"
    cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')
    rss=$((rss / 1024))
}

printf '%-4s %-4s %-3s %10s %10s %7s  %6s %6s %6s %6s %6s  %6s %6s  %s\n' set lh lv qorn jlha size% \
    q.wall j.wall q.cpu j.cpu speed cpu× q.MB j.MB
for set in text bin; do
    dir=$text
    [ "$set" = bin ] && dir=$bin
    cd "$(dirname "$dir")"
    base=$(basename "$dir")
    for m in $methods; do
        j=$work/j-$set-$m.lzh
        jw=1e9 jc=1e9 jm=0
        for level in def max; do
            q=$work/q-$set-$m-$level.lzh
            qw=1e9 qc=1e9 qm=0
            for _ in $(seq "$runs"); do
                effort=default
                [ "$level" = max ] && effort=max
                measure "$q" "$tool" pack "$q" "$base" --method "lh$m" --effort "$effort"
                qw=$(best "$qw" "$wall") qc=$(best "$qc" "$cpu") qm=$((rss > qm ? rss : qm))
                # jlha runs beside the default level only; the max row reuses its figures.
                if [ "$level" = def ]; then
                    measure "$j" jlha "a2o$m" "$j" "$base"
                    jw=$(best "$jw" "$wall") jc=$(best "$jc" "$cpu") jm=$((rss > jm ? rss : jm))
                fi
            done
            qs=$(stat -c %s "$q") js=$(stat -c %s "$j")
            awk -v set="$set" -v m="$m" -v lv="$level" -v qs="$qs" -v js="$js" -v qw="$qw" \
                -v jw="$jw" -v qc="$qc" -v jc="$jc" -v qm="$qm" -v jm="$jm" 'BEGIN {
                printf "%-4s lh%-2s %-3s %10d %10d %7.2f  %6.2f %6.2f %6.2f %6.2f %5.2fx  %5.2fx %6d %6d\n",
                    set, m, lv, qs, js, 100 * qs / js, qw, jw, qc, jc, jw / qw, jc / qc, qm, jm }'
            if [ "${CHECK:-0}" = 1 ]; then
                lhasa t "$q" >/dev/null 2>&1 || echo "  lhasa t failed on $q"
                7z t -tlzh "$q" >/dev/null 2>&1 || echo "  7z t failed on $q"
            fi
        done
    done
done
