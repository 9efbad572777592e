#!/usr/bin/env bash
# Runs every test: the portable core natively (with sanitizers), then the Win32 build under Wine
# on a virtual display, then the end-to-end suite against the real program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/setup.sh"

jobs=$(nproc)
echo "== layers: no include reaches up, the portable core includes no Windows header"
/usr/bin/python3 "$root/scripts/check_layers.py"
echo "== formatting: every C++ file as .clang-format has it"
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror

echo "== native tests (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake --preset native-asan >/dev/null
cmake --build --preset native-asan -j "$jobs"
ctest --preset native-asan

echo "== native tests under ThreadSanitizer"
# The reply worker and aborts from another thread, which the input fuzzers cannot reach.
cmake --preset native-tsan >/dev/null
cmake --build --preset native-tsan -j "$jobs"
ctest --preset native-tsan

echo "== fuzz targets, about 30 seconds each on their corpora (scripts/fuzz.sh SECONDS runs them longer)"
"$root/scripts/fuzz.sh" 30

echo "== Win32 build and tests under Wine"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"
# The installer is no part of `all`; the end-to-end suite installs it under Wine (makensis: package nsis).
if command -v makensis >/dev/null; then
    cmake --build --preset win32 --target installer
fi
. "$root/scripts/headless.sh"
tarvel_headless_start
ctest --preset win32

# Tests that lean on each other's order or timing pass on one machine and fail on the next: run the suite
# again in a shuffled order with more cases side by side, and the end-to-end suite back to front.
echo "== Win32 tests again, shuffled, four at a time"
ctest --preset win32 --schedule-random -j 4

if [ -d "$root/tests/e2e" ] && ls "$root"/tests/e2e/test_*.py >/dev/null 2>&1; then
    echo "== end-to-end tests"
    TARVEL_BUILD="$root/build/win32" /usr/bin/python3 -m pytest -q -p no:cacheprovider "$root/tests/e2e"
    echo "== end-to-end tests, back to front"
    TARVEL_E2E_REVERSE=1 TARVEL_BUILD="$root/build/win32" \
        /usr/bin/python3 -m pytest -q -p no:cacheprovider "$root/tests/e2e"
fi
