#!/usr/bin/env bash
# Builds Tarvel Pro and starts it under Wine on this display. Arguments go to the program
# (for example: /u "mailto:someone@example.com?Subject=Hello").
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/setup.sh"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$(nproc)" --target tarvel
if [ -z "${DISPLAY:-}" ]; then
    echo "run: no display (DISPLAY is not set), so the program's windows cannot be shown here." >&2
    echo "run: start it from a desktop session, or run the tests: scripts/test.sh" >&2
    exit 1
fi
. "$root/scripts/wine-env.sh"
exec wine "$root/build/win32/tarvel.exe" "$@"
