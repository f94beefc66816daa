#!/bin/bash
# Runs every test: installs what is missing, builds the native tree with the
# Windows stub, runs the unit, golden and end-to-end tests, checks the
# release files (stripped, the .deb clean for lintian, a second build
# byte-identical), then runs the unit tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and built as 32-bit programs (with the stub's
# decoder and with the native one; scripts/test-i386.sh).
# Set QORN_SKIP_INSTALL=1 to skip the package installation, QORN_E2E_WIN64=1 to
# run the end-to-end cases on the x86_64 build under wine64 even where the
# host could run the i686 stub under 32-bit Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

if [ "${QORN_SKIP_INSTALL:-0}" != 1 ]; then
    if [ "$(id -u)" -eq 0 ]; then
        sh scripts/install-deps.sh
    else
        sudo sh scripts/install-deps.sh
    fi
fi

jobs=$(nproc 2>/dev/null || echo 2)

echo "== formatting"
if command -v clang-format >/dev/null; then
    bad=$(git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run 2>&1 | grep -c 'warning:' || true)
    if [ "$bad" != 0 ]; then
        git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run 2>&1 | grep 'warning:' | head -20
        echo "clang-format: $bad places differ from .clang-format" >&2
        exit 1
    fi
fi

echo "== native build (with the Windows stub)"
cmake -G Ninja -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build -j "$jobs" --output-on-failure
# Which Windows build the end-to-end cases ran (decided when cmake looked
# at the host: see cmake/stub.cmake).
cat build/e2e-kind.txt 2>/dev/null || echo "e2e: not configured"

echo "== release files (stripped, packaged, reproducible)"
bash scripts/check-release.sh build

echo "== sanitizer build (ASan + UBSan)"
cmake -G Ninja -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQORN_SANITIZE=ON -DQORN_WITH_STUB=OFF
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan -j "$jobs" --output-on-failure

echo "== 32-bit build (i386: the stub's decoder and the native one)"
bash scripts/test-i386.sh "$jobs"

if [ -x scripts/fuzz-smoke.sh ]; then
    echo "== fuzz smoke"
    scripts/fuzz-smoke.sh
fi
echo "== all tests passed"
