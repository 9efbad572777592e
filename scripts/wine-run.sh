#!/usr/bin/env bash
# Runs a Windows program under the project's Wine prefix (ctest's emulator for the test .exe files).
. "$(dirname "$0")/wine-env.sh"

# Wine 8 can crash while it ends a process: a thread of its own that starts at that moment races the
# termination, and the Unix loader dies of SIGSEGV (exit status 139) after the program has finished. A
# fault in the program itself ends it with the exception's code instead (5 for an access violation).
# When a test program reported every test passed before such a crash, or only listed its tests for ctest,
# it is run once more and that second run's result stands; every other outcome is reported as it is.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if [[ " $* " == *" --gtest_list_tests "* ]]; then
    # ctest reads the list: only a whole one, from the run that counts, goes out.
    wine "$@" >"$log"
    rc=$?
    if [ "$rc" -eq 139 ]; then
        echo "wine-run: Wine crashed (SIGSEGV) while ending the program that listed its tests; listing again" >&2
        wine "$@" >"$log"
        rc=$?
    fi
    cat "$log"
    exit "$rc"
fi
wine "$@" | tee "$log"
rc=${PIPESTATUS[0]}
if [ "$rc" -eq 139 ] && grep -q '^\[  PASSED  \]' "$log" && ! grep -q '^\[  FAILED  \]' "$log"; then
    echo "wine-run: Wine crashed (SIGSEGV) while ending the program after its tests passed; running it again" >&2
    wine "$@"
    rc=$?
fi
exit "$rc"
