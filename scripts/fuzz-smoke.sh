#!/bin/bash
# Builds the libFuzzer targets (tests/fuzz) with clang and runs each one for a
# bounded time, two at a time, from a scratch copy of its seed corpus plus the
# saved crash reproducers. Fails on any finding; the log names the input.
#
#   QORN_FUZZ_SECONDS  seconds per target (default 60)
#   QORN_FUZZ_BUILD    build folder (default build-fuzz)
#   QORN_FUZZ_TARGETS  targets to run (default all)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${QORN_FUZZ_SECONDS:-60}
# Absolute: whole_run moves into a scratch folder of its own.
build=$(realpath -m "${QORN_FUZZ_BUILD:-build-fuzz}")
targets=${QORN_FUZZ_TARGETS:-"settings entry_header decode_member entry_path whole_run roundtrip stub_resources"}

CC=clang CXX=clang++ cmake -G Ninja -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQORN_FUZZ=ON -DQORN_WITH_STUB=OFF >/dev/null
cmake --build "$build" --target fuzzers -j 2

scratch=$(mktemp -d /tmp/qorn-fuzz-smoke-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
findings=$build/fuzz-findings
rm -rf "$findings"
mkdir -p "$findings"

# One target: its log goes to $build/fuzz-findings/<target>.log, a crashing
# input to $build/fuzz-findings/<target>/.
run() {
    local name=$1
    mkdir -p "$scratch/$name" "$findings/$name"
    cp "$root/tests/fuzz/corpus/$name/." "$scratch/$name/" -r
    "$build/tests/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$findings/$name/" \
        "$scratch/$name" "$root/tests/fuzz/crashes/$name" >"$findings/$name.log" 2>&1
}

failed=()
set -- $targets
while [ $# -gt 0 ]; do
    pids=()
    names=()
    for _ in 1 2; do
        [ $# -gt 0 ] || break
        run "$1" &
        pids+=($!)
        names+=("$1")
        shift
    done
    for i in "${!pids[@]}"; do
        name=${names[$i]}
        if wait "${pids[$i]}"; then
            runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$findings/$name.log" |
                grep -o '[0-9]*$' || echo '?')
            echo "fuzz $name: $runs runs in ${seconds}s, no finding"
        else
            echo "fuzz $name: FINDING (log $findings/$name.log)" >&2
            grep -E 'ERROR|check failed|runtime error|Test unit written to' \
                "$findings/$name.log" | head -10 >&2 || tail -20 "$findings/$name.log" >&2
            failed+=("$name")
        fi
    done
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "fuzz-smoke: findings in ${failed[*]}; reproducers under $findings" >&2
    exit 1
fi
