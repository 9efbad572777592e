#!/usr/bin/env bash
# Runs a Windows program under the project's Wine prefix (ctest's emulator for the test .exe files).
. "$(dirname "$0")/wine-env.sh"

# Wine 8 can crash while it ends a process: a thread of its own that starts at that moment races the
# termination, and the Unix loader dies of SIGSEGV (exit status 139) after the program has finished. A
# fault in the program itself ends it with the exception's code instead (5 for an access violation).
# When a test program had written its report with every test passed, or only listed its tests for ctest,
# it is run once more and that second run's result stands; every other outcome is reported as it is.
# The output is never piped through another process: a Wine service that the program starts (the desktop
# for its first window) inherits the program's output and keeps a pipe open for as long as it runs.
report=$(mktemp -u --suffix=.xml)
trap 'rm -f "$report" "$report.list"' EXIT
if [[ " $* " == *" --gtest_list_tests "* ]]; then
    # ctest reads the list: only a whole one, from the run that counts, goes out.
    wine "$@" >"$report.list"
    rc=$?
    if [ "$rc" -eq 139 ]; then
        echo "wine-run: Wine crashed (SIGSEGV) while ending the program that listed its tests; listing again" >&2
        wine "$@" >"$report.list"
        rc=$?
    fi
    cat "$report.list"
    exit "$rc"
fi
GTEST_OUTPUT="xml:Z:${report//\//\\}" wine "$@"
rc=$?
if [ "$rc" -eq 139 ] && grep -q '<testsuites [^>]*failures="0"[^>]*errors="0"' "$report" 2>/dev/null; then
    echo "wine-run: Wine crashed (SIGSEGV) while ending the program after its tests passed; running it again" >&2
    wine "$@"
    rc=$?
fi
exit "$rc"
