# Sourced by the test and demo scripts: a virtual X display and a persistent wineserver,
# both stopped again on every exit path so that nothing keeps holding the caller's pipes.
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

tarvel_headless_stop() {
    wineserver -k >/dev/null 2>&1 || true
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
    wineserver -p
    wine wineboot </dev/null >/dev/null 2>&1 || true
}
