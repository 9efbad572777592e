#!/usr/bin/env bash
# The send benchmark: Tarvel under Wine and curl send the same large base64 attachment to a discard SMTP
# server on 127.0.0.1; prints speed, CPU time and peak memory of both and the ratio Tarvel/curl.
#
#     bench/run.sh [MiB ...]        (default: 64 256, so that the two peak memories can be compared)
#
# Wine prefix: TARVEL_WINEPREFIX if set (see scripts/wine-env.sh). Build folder: TARVEL_BENCH_BUILD, by
# default build/bench-win32. The attachments are kept in build/bench-data and reused between runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVEL_BENCH_BUILD:-$root/build/bench-win32}
data=$root/build/bench-data
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(64 256)
for mib in "${sizes[@]}"; do
    [[ $mib =~ ^[1-9][0-9]*$ ]] || { echo "run.sh: '$mib' is not a size in MiB" >&2; exit 2; }
done

"$root/scripts/setup.sh"
mkdir -p "$data"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j2 --target bench_send >/dev/null
sink_bin=$data/smtp_sink
if [ ! -x "$sink_bin" ] || [ "$root/bench/smtp_sink.cpp" -nt "$sink_bin" ]; then
    g++ -std=c++20 -O2 -Wall -Wextra -o "$sink_bin" "$root/bench/smtp_sink.cpp"
fi

. "$root/scripts/wine-env.sh"
sink_pid=""
cleanup() {
    [ -n "$sink_pid" ] && kill "$sink_pid" >/dev/null 2>&1 || true
    wineserver -k >/dev/null 2>&1 || true
}
trap cleanup EXIT
# Message-only windows and WSAAsyncSelect need no display. A persistent server keeps process start-up
# out of the figures; Wine's services start once, away from our pipes.
wineserver -p
wine wineboot </dev/null >/dev/null 2>&1 || true

# Starts a sink for one session; sets sink_pid and sink_port, its output goes to $1.
start_sink() {
    : >"$1"
    timeout 900 "$sink_bin" 0 1 >"$1" &
    sink_pid=$!
    for _ in $(seq 200); do
        sink_port=$(awk '/^port /{print $2; exit}' "$1")
        [ -n "$sink_port" ] && return 0
        sleep 0.05
    done
    echo "run.sh: the sink did not start" >&2
    exit 1
}
end_sink() {
    wait "$sink_pid" || true
    sink_pid=""
    awk '/^message: /{print $2; exit}' "$1"
}

# CPU seconds (user + system) that this prefix's wineserver has used so far: sends pass through it.
wineserver_cpu() {
    local pid
    for pid in $(pgrep -x "wineserver(32|64)?" || true); do
        if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
            awk -v hz="$(getconf CLK_TCK)" '{printf "%.2f", ($14 + $15) / hz}' "/proc/$pid/stat"
            return
        fi
    done
    echo 0
}

key() { awk -F= -v k="$1" '$1 == k {print $2; exit}' "$2"; }

report=()
for mib in "${sizes[@]}"; do
    file=$data/attach-$mib.bin
    if [ ! -f "$file" ] || [ "$(stat -c %s "$file")" -ne $((mib * 1048576)) ]; then
        head -c $((mib * 1048576)) /dev/urandom >"$file.tmp" && mv "$file.tmp" "$file"
    fi
    winfile="Z:${file//\//\\}"

    echo "== $mib MiB: Tarvel under Wine"
    start_sink "$data/sink-tarvel.txt"
    server_before=$(wineserver_cpu)
    "$root/scripts/wine-run.sh" "$build/bench/bench_send.exe" "$sink_port" "$winfile" "$mib" \
        </dev/null >"$data/tarvel.txt" || { cat "$data/tarvel.txt"; echo "run.sh: Tarvel's send failed" >&2; exit 1; }
    server_after=$(wineserver_cpu)
    tarvel_received=$(end_sink "$data/sink-tarvel.txt")
    cat "$data/tarvel.txt"
    t_seconds=$(key seconds "$data/tarvel.txt")
    t_cpu=$(key cpu_seconds "$data/tarvel.txt")
    t_server=$(awk -v a="$server_before" -v b="$server_after" 'BEGIN {printf "%.2f", b - a}')
    t_peak=$(key peak_working_set_MiB "$data/tarvel.txt")

    echo "== $mib MiB: curl"
    start_sink "$data/sink-curl.txt"
    /usr/bin/time -f "%e %U %S %M" -o "$data/curl-time.txt" \
        curl -s "smtp://127.0.0.1:$sink_port" --mail-from a@b.c --mail-rcpt d@e.f \
        -F '=(;type=multipart/mixed' -F '=hello;type=text/plain' -F "file=@$file;encoder=base64" -F '=)' \
        -H 'Subject: bench' </dev/null
    curl_received=$(end_sink "$data/sink-curl.txt")
    read -r c_seconds c_user c_system c_rss_kb <"$data/curl-time.txt"
    c_cpu=$(awk -v u="$c_user" -v s="$c_system" 'BEGIN {printf "%.2f", u + s}')
    c_peak=$(awk -v k="$c_rss_kb" 'BEGIN {printf "%.1f", k / 1024}')

    report+=("$(awk -v mib="$mib" -v ts="$t_seconds" -v tr="$tarvel_received" -v tc="$t_cpu" -v tw="$t_server" \
        -v tp="$t_peak" -v cs="$c_seconds" -v cr="$curl_received" -v cc="$c_cpu" -v cp="$c_peak" 'BEGIN {
        a = mib * 1048576 / 1e6
        printf "%6d MiB  Tarvel %7.2f s %7.1f MB/s %7.1f MB/s  CPU %6.2f s (+ wineserver %5.2f s)  peak %6.1f MiB\n",
            mib, ts, a / ts, tr / 1e6 / ts, tc, tw, tp
        printf "%6d MiB  curl   %7.2f s %7.1f MB/s %7.1f MB/s  CPU %6.2f s                        peak %6.1f MiB\n",
            mib, cs, a / cs, cr / 1e6 / cs, cc, cp
        printf "%6d MiB  speed ratio Tarvel/curl: %.2f\n", mib, cs / ts
    }')")
done

echo
echo "             sender   time     attachment   on the wire   CPU                                 memory"
printf '%s\n' "${report[@]}"
