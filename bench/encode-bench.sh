#!/bin/sh
# Compares qornsfx pack with jlha on a text set and a binary set: archive
# sizes, wall times and peak memory per method.
#   bench/encode-bench.sh QORNSFX TEXT_DIR BIN_DIR [WORK_DIR]
set -e
tool=$1 text=$2 bin=$3 work=${4:-/tmp/qorn-encode-bench}
mkdir -p "$work"
measure() {  # label archive command...
    label=$1 archive=$2
    shift 2
    rm -f "$archive"
    /usr/bin/time -v "$@" >/dev/null 2>"$archive.time"
    secs=$(awk -F': ' '/Elapsed/ {n=split($2,t,":"); s=0; for(i=1;i<=n;i++) s=s*60+t[i]; print s}' "$archive.time")
    rss=$(awk -F': ' '/Maximum resident/ {print int($2/1024)}' "$archive.time")
    cpu=$(awk -F': ' '/User time|System time/ {s+=$2} END {print s}' "$archive.time")
    printf '%-14s %10s bytes %7ss wall %7ss cpu %5s MB\n' "$label" "$(stat -c %s "$archive")" "$secs" "$cpu" "$rss"
}
for set in text bin; do
    eval dir=\$$set
    ( cd "$(dirname "$dir")" && base=$(basename "$dir") &&
      for m in 5 6 7; do
          measure "$set qorn lh$m" "$work/q-$set-$m.lzh" "$tool" pack "$work/q-$set-$m.lzh" "$base" --method lh$m
          if command -v jlha >/dev/null; then
              measure "$set jlha lh$m" "$work/j-$set-$m.lzh" jlha a2o$m "$work/j-$set-$m.lzh" "$base"
          fi
      done )
done
