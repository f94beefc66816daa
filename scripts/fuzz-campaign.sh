#!/bin/bash
# A long fuzzing run of one target on one core, then a merge of what it found
# into tests/fuzz/corpus/<target>: only inputs that reach edges the corpus
# does not reach yet are added (counters and compared values do not count,
# which keeps the corpus small). Prints the run count and the coverage.
#
#   scripts/fuzz-campaign.sh TARGET HOURS      (HOURS may be a fraction)
#
#   QORN_FUZZ_BUILD  build folder (default build-fuzz)
#   QORN_FUZZ_CPU    the core to run on (default the last one)
#
# A finding stops the run; its input is left under
# <build>/fuzz-findings/<target>/ and the script fails after merging.
# SIGINT to the fuzzer process ends the run early; the merge still runs.
set -euo pipefail
if [ $# -ne 2 ]; then
    echo "usage: $0 TARGET HOURS" >&2
    exit 2
fi
target=$1
seconds=$(awk -v h="$2" 'BEGIN { s = int(h * 3600); print (s > 0 ? s : 1) }')
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# Absolute paths: whole_run_disk moves into a scratch folder of its own.
build=$(realpath -m "${QORN_FUZZ_BUILD:-build-fuzz}")
inputs=${target%_disk}
corpus=$root/tests/fuzz/corpus/$inputs
crashes=$root/tests/fuzz/crashes/$inputs

CC=clang CXX=clang++ cmake -G Ninja -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQORN_FUZZ=ON -DQORN_WITH_STUB=OFF >/dev/null
cmake --build "$build" --target "fuzz_$target" -j 1
fuzzer=$build/tests/fuzz_$target

pin=()
if command -v taskset >/dev/null; then
    pin=(taskset -c "${QORN_FUZZ_CPU:-$(($(nproc) - 1))}")
fi

work=$(mktemp -d /tmp/qorn-fuzz-campaign-XXXXXX)
trap 'rm -rf "$work"' EXIT
findings=$build/fuzz-findings/$target
rm -rf "$findings"
mkdir -p "$work/found" "$findings" "$crashes"
cp -r "$corpus/." "$work/found/"
log=$build/fuzz-findings/$target-campaign.log
before=$(ls "$corpus" | wc -l)

"${pin[@]}" "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$work/found" "$crashes" >"$log" 2>&1 ||
    true
runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
reached=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1 || true)

"${pin[@]}" "$fuzzer" -merge=1 -use_counters=0 -use_value_profile=0 -timeout=10 \
    -rss_limit_mb=2048 "$corpus" "$work/found" >"$work/merge.log" 2>&1
merged=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$work/merge.log" | tail -1 || true)
after=$(ls "$corpus" | wc -l)

echo "fuzz-campaign $target: $runs runs in ${seconds}s; run reached $reached"
echo "fuzz-campaign $target: corpus $before -> $after inputs (edges: $merged)"
if [ -n "$(ls -A "$findings")" ]; then
    echo "fuzz-campaign $target: FINDING (log $log, input under $findings)" >&2
    grep -E 'ERROR|check failed|runtime error|Test unit written to' "$log" | head -10 >&2 || true
    exit 1
fi
