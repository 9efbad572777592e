#!/usr/bin/env bash
# Runs a Windows program under the project's Wine prefix (ctest's emulator for the test .exe files).
. "$(dirname "$0")/wine-env.sh"
exec wine "$@"
