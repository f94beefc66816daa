#!/bin/bash
# Line coverage of the core by the fuzz corpora: every replay program runs
# its corpus and crashes folder in a clang build with source-based coverage,
# and llvm-cov sums the lines of decode/, payload/ and extract/.
#
#   scripts/fuzz-coverage.sh            (QORN_COVERAGE_BUILD, default build-fuzzcov)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=$(realpath -m "${QORN_COVERAGE_BUILD:-build-fuzzcov}")
flags="-fprofile-instr-generate -fcoverage-mapping"

CC=clang CXX=clang++ cmake -G Ninja -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug \
    -DQORN_WITH_STUB=OFF -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
programs=()
for source in tests/fuzz/*_fuzz.cpp; do
    name=$(basename "$source" _fuzz.cpp)
    programs+=("fuzz_replay_$name")
done
cmake --build "$build" --target "${programs[@]}" >/dev/null

profiles=$(mktemp -d /tmp/qorn-fuzzcov-XXXXXX)
trap 'rm -rf "$profiles"' EXIT
objects=()
for program in "${programs[@]}"; do
    name=${program#fuzz_replay_}
    LLVM_PROFILE_FILE="$profiles/$name.profraw" "$build/tests/$program" \
        "tests/fuzz/corpus/$name" "tests/fuzz/crashes/$name" >/dev/null 2>&1
    objects+=(-object "$build/tests/$program")
done
llvm-profdata merge -sparse "$profiles"/*.profraw -o "$profiles/all.profdata"
for folder in decode payload extract; do
    llvm-cov report "${objects[@]:1}" -instr-profile="$profiles/all.profdata" \
        "$root/$folder" 2>/dev/null |
        awk -v f="$folder" '/^TOTAL/ {print f "/: " $(NF-3) " of " $(NF-5) " lines (" $(NF-4) " not reached)"}'
done
