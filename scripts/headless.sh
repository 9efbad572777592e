# Sourced by the test and demo scripts: a virtual X display and a persistent wineserver,
# both stopped again on every exit path so that nothing keeps holding the caller's pipes.
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

tarvel_headless_stop() {
    [ -n "${TARVEL_OWN_WINESERVER:-}" ] && wineserver -k >/dev/null 2>&1 || true
    TARVEL_OWN_WINESERVER=""
    [ -n "${TARVEL_XVFB_PID:-}" ] && kill "$TARVEL_XVFB_PID" >/dev/null 2>&1 || true
    TARVEL_XVFB_PID=""
}

tarvel_headless_start() {
    local fifo
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" </dev/null >/dev/null 2>&1 &
    TARVEL_XVFB_PID=$!
    local num
    read -r -t 20 num <"$fifo" || { echo "headless: Xvfb did not start" >&2; rm -f "$fifo"; return 1; }
    rm -f "$fifo"
    export DISPLAY=":$num"
    trap tarvel_headless_stop EXIT
    # A persistent server makes each Wine process start in milliseconds; the first wine process
    # starts Wine's services, which must not inherit the test runner's pipes.
    # A server that outlives its last program for a few seconds goes by itself. One that still serves
    # programs started elsewhere, perhaps on another display, is not ours to share or to stop.
    if ! wineserver -p 2>/dev/null && ! { timeout 10 wineserver -w 2>/dev/null; wineserver -p 2>/dev/null; }; then
        echo "headless: a Wine server already runs for $WINEPREFIX; end it (WINEPREFIX=$WINEPREFIX wineserver -k)" \
            "or set TARVEL_WINEPREFIX to another prefix" >&2
        return 1
    fi
    TARVEL_OWN_WINESERVER=1
    wine wineboot </dev/null >/dev/null 2>&1 || true
}
