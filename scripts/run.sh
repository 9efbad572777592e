#!/usr/bin/env bash
# Builds Tarvel Pro and starts it under Wine on this display. Arguments go to the program
# (for example: /u "mailto:someone@example.com?Subject=Hello").
# With --demo it needs no display: it runs the headless demo on a virtual one (scripts/demo.py), which sends
# a message through the real program to a local SMTP server and saves screenshots to docs/screenshots/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/setup.sh"
cmake --preset win32 >/dev/null

if [ "${1:-}" = "--demo" ]; then
    cmake --build --preset win32 -j "$(nproc)" --target tarvel tarvel_drive
    . "$root/scripts/headless.sh"
    tarvel_headless_start
    TARVEL_BUILD="$root/build/win32" /usr/bin/python3 "$root/scripts/demo.py"
    exit 0
fi

cmake --build --preset win32 -j "$(nproc)" --target tarvel
if [ -z "${DISPLAY:-}" ]; then
    echo "run: no display (DISPLAY is not set), so the program's windows cannot be shown here." >&2
    echo "run: start it from a desktop session, try the headless demo (scripts/run.sh --demo)," >&2
    echo "run: or run the tests: scripts/test.sh" >&2
    exit 1
fi
. "$root/scripts/wine-env.sh"
exec wine "$root/build/win32/tarvel.exe" "$@"
