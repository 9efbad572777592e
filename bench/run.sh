#!/usr/bin/env bash
# The send benchmark: Tarvel under Wine and curl send the same large base64 attachment to a discard SMTP
# server on 127.0.0.1; prints speed, CPU time and peak memory of both and the ratio Tarvel/curl. Three parts:
# the send flow alone (bench_send.exe, no window) to bench/smtp_sink.cpp, in the clear and over STARTTLS
# (beside curl --ssl-reqd and a TLS writer of the same message text to the same sink: the sink's limit),
# and the whole program (tarvel.exe driven through its window on a virtual display) to Postfix's smtp-sink,
# beside curl and a plain socket writer of the same message text to the same sink (the limit there).
#
#     bench/run.sh [MiB ...]        (default: 16 64 256, so that the peak memories can be compared)
#
# Wine prefix: TARVEL_WINEPREFIX if set (see scripts/wine-env.sh). Build folder: TARVEL_BENCH_BUILD, by
# default build/bench-win32. The attachments are kept in build/bench-data and reused between runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVEL_BENCH_BUILD:-$root/build/bench-win32}
data=$root/build/bench-data
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(16 64 256)
for mib in "${sizes[@]}"; do
    [[ $mib =~ ^[1-9][0-9]*$ ]] || { echo "run.sh: '$mib' is not a size in MiB" >&2; exit 2; }
done

"$root/scripts/setup.sh"
# Postfix for its smtp-sink only: "No configuration" keeps the mail system itself unset and stopped.
if ! command -v smtp-sink >/dev/null; then
    sudo_=""
    [ "$(id -u)" -eq 0 ] || sudo_="sudo"
    echo "postfix postfix/main_mailer_type select No configuration" | $sudo_ debconf-set-selections
    $sudo_ env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends postfix \
        </dev/null >/dev/null
fi
mkdir -p "$data"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j2 --target bench_send tarvel tarvel_drive >/dev/null
sink_bin=$data/smtp_sink
if [ ! -x "$sink_bin" ] || [ "$root/bench/smtp_sink.cpp" -nt "$sink_bin" ]; then
    g++ -std=c++20 -O2 -Wall -Wextra -o "$sink_bin" "$root/bench/smtp_sink.cpp" -lssl -lcrypto
fi

# The STARTTLS part: a test CA and the sink's certificate, new each run. The certificate names "localhost"
# (for Tarvel: Wine matches no IP address in a certificate) and 127.0.0.1 (for curl). curl trusts the CA;
# Tarvel, like the program once the user has trusted a certificate, the fingerprint in zembrix.ini.
tls=$data/tls
rm -rf "$tls"
mkdir -p "$tls"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$tls/ca.key" -out "$tls/ca.pem" -days 2 \
    -subj "/CN=Tarvel bench CA $(date +%s)" -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' \
    >"$tls/server.ext"
openssl req -newkey rsa:2048 -nodes -keyout "$tls/server.key" -out "$tls/server.csr" -subj /CN=localhost \
    2>/dev/null
openssl x509 -req -in "$tls/server.csr" -CA "$tls/ca.pem" -CAkey "$tls/ca.key" -CAcreateserial \
    -out "$tls/server.pem" -days 2 -extfile "$tls/server.ext" 2>/dev/null
fingerprint=$(openssl x509 -in "$tls/server.pem" -outform DER | sha256sum | cut -d' ' -f1)
printf '[Security]\r\nMode=STARTTLS\r\n[Trusted]\r\nlocalhost=%s\r\n' "$fingerprint" >"$tls/zembrix.ini"

# The whole program needs a display: a virtual one. A persistent server keeps process start-up out of the
# figures; Wine's services start once, away from our pipes.
. "$root/scripts/headless.sh"
tarvel_headless_start
sink_pid=""
postfix_sink_pid=""
cleanup() {
    [ -n "$sink_pid" ] && kill "$sink_pid" >/dev/null 2>&1 || true
    [ -n "$postfix_sink_pid" ] && kill "$postfix_sink_pid" >/dev/null 2>&1 || true
    tarvel_headless_stop
}
trap cleanup EXIT

# Starts a sink for one session; sets sink_pid and sink_port, its output goes to $1. With a certificate and
# key after it, the sink offers STARTTLS.
start_sink() {
    : >"$1"
    timeout 900 "$sink_bin" 0 1 "${@:2}" >"$1" &
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

# Wine writes CR LF: the value without its CR.
key() { awk -F= -v k="$1" '$1 == k {sub(/\r$/, "", $2); print $2; exit}' "$2"; }

# Postfix's smtp-sink for the whole-program runs: one for the whole benchmark, on a free port.
postfix_port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
smtp-sink -u nobody "127.0.0.1:$postfix_port" 64 </dev/null >/dev/null 2>&1 &
postfix_sink_pid=$!
for _ in $(seq 200); do
    (exec 3<>"/dev/tcp/127.0.0.1/$postfix_port") 2>/dev/null && break
    sleep 0.05
done

report=()
secure=()
whole=()
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

    echo "== $mib MiB: Tarvel under Wine over STARTTLS"
    start_sink "$data/sink-tarvel-tls.txt" "$tls/server.pem" "$tls/server.key"
    server_before=$(wineserver_cpu)
    "$root/scripts/wine-run.sh" "$build/bench/bench_send.exe" --security "Z:${tls//\//\\}\\zembrix.ini" \
        --server localhost "$sink_port" "$winfile" "$mib" </dev/null >"$data/tarvel-tls.txt" ||
        { cat "$data/tarvel-tls.txt"; echo "run.sh: Tarvel's send over STARTTLS failed" >&2; exit 1; }
    server_after=$(wineserver_cpu)
    tarvel_received=$(end_sink "$data/sink-tarvel-tls.txt")
    cat "$data/tarvel-tls.txt"
    grep '^tls: ' "$data/sink-tarvel-tls.txt" || true
    [ "$(key encrypted "$data/tarvel-tls.txt")" = yes ] || { echo "run.sh: Tarvel did not encrypt" >&2; exit 1; }
    ts_seconds=$(key seconds "$data/tarvel-tls.txt")
    ts_cpu=$(key cpu_seconds "$data/tarvel-tls.txt")
    ts_server=$(awk -v a="$server_before" -v b="$server_after" 'BEGIN {printf "%.2f", b - a}')
    ts_peak=$(key peak_working_set_MiB "$data/tarvel-tls.txt")

    echo "== $mib MiB: curl --ssl-reqd"
    start_sink "$data/sink-curl-tls.txt" "$tls/server.pem" "$tls/server.key"
    /usr/bin/time -f "%e %U %S %M" -o "$data/curl-tls-time.txt" \
        curl -s "smtp://127.0.0.1:$sink_port" --ssl-reqd --cacert "$tls/ca.pem" --mail-from a@b.c \
        --mail-rcpt d@e.f -F '=(;type=multipart/mixed' -F '=hello;type=text/plain' \
        -F "file=@$file;encoder=base64" -F '=)' -H 'Subject: bench' </dev/null
    curl_received=$(end_sink "$data/sink-curl-tls.txt")
    grep '^tls: ' "$data/sink-curl-tls.txt" || true
    read -r cs_seconds cs_user cs_system cs_rss_kb <"$data/curl-tls-time.txt"

    echo "== $mib MiB: a TLS writer of the same text (the sink's limit)"
    start_sink "$data/sink-limit-tls.txt" "$tls/server.pem" "$tls/server.key"
    /usr/bin/python3 "$root/bench/tls_writer.py" "$sink_port" "$file" "$tls/ca.pem" >"$data/limit-tls.txt" ||
        { cat "$data/limit-tls.txt"; echo "run.sh: the TLS writer's send failed" >&2; exit 1; }
    end_sink "$data/sink-limit-tls.txt" >/dev/null
    ls_seconds=$(key limit_seconds "$data/limit-tls.txt")

    echo "== $mib MiB: the whole program over STARTTLS"
    start_sink "$data/sink-whole-tls.txt" "$tls/server.pem" "$tls/server.key"
    TARVEL_BUILD="$build" /usr/bin/python3 "$root/bench/whole_program.py" --security "$tls/zembrix.ini" \
        "$sink_port" "$file" "$mib" >"$data/whole-tls.txt" ||
        { cat "$data/whole-tls.txt"; echo "run.sh: the whole program's send over STARTTLS failed" >&2; exit 1; }
    whole_received=$(end_sink "$data/sink-whole-tls.txt")
    cat "$data/whole-tls.txt"
    w=$data/whole-tls.txt

    secure+=("$(awk -v mib="$mib" -v ts="$ts_seconds" -v tr="$tarvel_received" -v tc="$ts_cpu" -v tw="$ts_server" \
        -v tp="$ts_peak" -v cs="$cs_seconds" -v cr="$curl_received" -v cu="$cs_user" -v cy="$cs_system" \
        -v ck="$cs_rss_kb" -v ls="$ls_seconds" -v lw="$(key wire_bytes "$data/limit-tls.txt")" \
        -v ws="$(key tarvel_seconds "$w")" -v wr="$whole_received" -v wc="$(key tarvel_cpu_seconds "$w")" \
        -v ww="$(key tarvel_wineserver_cpu_seconds "$w")" -v wp="$(key tarvel_peak_MiB "$w")" 'BEGIN {
        a = mib * 1048576 / 1e6
        printf "%6d MiB  Tarvel     %7.2f s %7.1f MB/s %7.1f MB/s  CPU %6.2f s (+ wineserver %5.2f s)  peak %6.1f MiB\n",
            mib, ts, a / ts, tr / 1e6 / ts, tc, tw, tp
        printf "%6d MiB  tarvel.exe %7.2f s %7.1f MB/s %7.1f MB/s  CPU %6.2f s (+ wineserver %5.2f s)  peak %6.1f MiB\n",
            mib, ws, a / ws, wr / 1e6 / ws, wc, ww, wp
        printf "%6d MiB  curl       %7.2f s %7.1f MB/s %7.1f MB/s  CPU %6.2f s                        peak %6.1f MiB\n",
            mib, cs, a / cs, cr / 1e6 / cs, cu + cy, ck / 1024
        printf "%6d MiB  limit      %7.2f s %7.1f MB/s %7.1f MB/s  (a TLS writer of the same text)\n",
            mib, ls, a / ls, lw / 1e6 / ls
        printf "%6d MiB  speed ratio over STARTTLS: Tarvel/curl %.2f, tarvel.exe/curl %.2f; Tarvel against the limit: %.2f x\n",
            mib, cs / ts, cs / ws, ts / ls
    }')")

    echo "== $mib MiB: the whole program, curl and a plain writer to smtp-sink"
    TARVEL_BUILD="$build" /usr/bin/python3 "$root/bench/whole_program.py" "$postfix_port" "$file" "$mib" \
        >"$data/whole.txt" || { cat "$data/whole.txt"; echo "run.sh: the whole-program send failed" >&2; exit 1; }
    cat "$data/whole.txt"
    w=$data/whole.txt
    whole+=("$(awk -v mib="$mib" -v wire="$(key wire_bytes "$w")" -v ls="$(key limit_seconds "$w")" \
        -v ts="$(key tarvel_seconds "$w")" -v tc="$(key tarvel_cpu_seconds "$w")" \
        -v tw="$(key tarvel_wineserver_cpu_seconds "$w")" -v tp="$(key tarvel_peak_MiB "$w")" \
        -v cs="$(key curl_seconds "$w")" -v cc="$(key curl_cpu_seconds "$w")" -v cp="$(key curl_peak_MiB "$w")" 'BEGIN {
        a = mib * 1048576 / 1e6
        printf "%6d MiB  tarvel.exe %7.2f s %7.1f MB/s %7.1f MB/s  CPU %6.2f s (+ wineserver %5.2f s)  peak %6.1f MiB\n",
            mib, ts, a / ts, wire / 1e6 / ts, tc, tw, tp
        printf "%6d MiB  curl       %7.2f s %7.1f MB/s %7.1f MB/s  CPU %6.2f s                        peak %6.1f MiB\n",
            mib, cs, a / cs, wire / 1e6 / cs, cc, cp
        printf "%6d MiB  limit      %7.2f s %7.1f MB/s %7.1f MB/s  (a plain socket writer of the same text)\n",
            mib, ls, a / ls, wire / 1e6 / ls
        printf "%6d MiB  speed ratio tarvel.exe/curl: %.2f; time against the limit: %.2f x\n", mib, cs / ts, ts / ls
    }')")
done

echo
echo "The send flow alone (bench_send.exe) to bench/smtp_sink, load $(cut -d' ' -f1-3 /proc/loadavg):"
echo "             sender   time     attachment   on the wire   CPU                                 memory"
printf '%s\n' "${report[@]}"
echo
echo "Over STARTTLS to bench/smtp_sink with TLS: the send flow alone (Tarvel, bench_send.exe), the whole program"
echo "(tarvel.exe through its window), curl with --ssl-reqd:"
echo "             sender       time     attachment   on the wire   CPU                                 memory"
printf '%s\n' "${secure[@]}"
echo
echo "The whole program (tarvel.exe through its window) to Postfix's smtp-sink:"
echo "             sender       time     attachment   on the wire   CPU                                 memory"
printf '%s\n' "${whole[@]}"
