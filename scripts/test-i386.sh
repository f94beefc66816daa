#!/bin/bash
# The core, the tool and the unit tests built as 32-bit x86 Linux programs
# (cmake/linux-i386.cmake), twice: with the decoder the stub ships (no fast
# decoder) and with the native build's fast one. The stub that ships is
# i686, and the end-to-end cases may have run only its x86_64 test build:
# this runs its decoding and extraction code with 32-bit pointers, sizes and
# file offsets. The tests run natively where the kernel runs 32-bit
# programs, under qemu-i386-static where it does not. One line per suite:
# which build, how it ran, how many passed and failed, how long it took.
# Exits 1 when a suite fails or does not finish.
#
# Usage: scripts/test-i386.sh [JOBS]   (build folders build-i386-stub and
# build-i386-fast; their logs hold the full test output)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${1:-$(nproc 2>/dev/null || echo 2)}

runner=()
# Empty where none is needed: a tree configured on another host forgets it.
emulator=("-DCMAKE_CROSSCOMPILING_EMULATOR=")
if sh scripts/runs-i386.sh; then
    how="natively"
else
    qemu=$(command -v qemu-i386-static || true)
    if [ -z "$qemu" ]; then
        echo "i386: this kernel runs no 32-bit programs and qemu-i386-static is missing" \
            "(scripts/install-deps.sh installs it)" >&2
        exit 1
    fi
    how="under qemu-i386-static"
    runner=("$qemu")
    emulator=("-DCMAKE_CROSSCOMPILING_EMULATOR=$qemu")
fi

# Both trees are built first; then both suites run at once, since each
# runs its tests one after another on one processor.
kinds="stub fast"
declare -A built
for kind in $kinds; do
    dir=build-i386-$kind
    decoder=OFF
    [ "$kind" = stub ] && decoder=ON
    start=$SECONDS
    mkdir -p "$dir"
    cmake -G Ninja -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/linux-i386.cmake" -DQORN_WITH_STUB=OFF \
        -DQORN_STUB_DECODER=$decoder "${emulator[@]}" >"$dir/configure.log" 2>&1 ||
        { cat "$dir/configure.log" >&2; exit 1; }
    cmake --build "$dir" -j "$jobs" --target unit_tests
    built[$kind]=$((SECONDS - start))
done

start=$SECONDS
for kind in $kinds; do
    dir=build-i386-$kind
    (
        code=0
        "${runner[@]}" "$dir/tests/unit_tests" --gtest_brief=1 >"$dir/unit-tests.log" 2>&1 ||
            code=$?
        echo "$code $((SECONDS - start))" >"$dir/unit-tests.status"
    ) &
done
wait

failed=0
for kind in $kinds; do
    dir=build-i386-$kind
    log=$dir/unit-tests.log
    if [ "$kind" = stub ]; then
        name="stub's decoder (no fast decoder)"
    else
        name="native decoder (fast decoder)"
    fi
    read -r code ran <"$dir/unit-tests.status"
    # The brief output names each failed test but has no count of them.
    total=$(sed -n 's/^\[==========\] \([0-9]*\) tests\{0,1\} from .* ran\..*/\1/p' "$log")
    passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' "$log")
    skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\{0,1\}[,.].*/\1/p' "$log")
    if [ -z "$total" ]; then
        line="did not finish (status $code), see $log"
        failed=1
    else
        nfailed=$((total - ${passed:-0} - ${skipped:-0}))
        line="${passed:-0} passed / $nfailed failed"
        [ -n "$skipped" ] && line="$line ($skipped skipped)"
        if [ "$code" != 0 ] || [ "$nfailed" != 0 ]; then
            failed=1
            grep '^\[  FAILED  \] [A-Za-z]' "$log" | sort -u >&2 || true
        fi
    fi
    echo "i386 unit tests, $name, $how: $line; build ${built[$kind]} s, run ${ran} s"
done
exit $failed
