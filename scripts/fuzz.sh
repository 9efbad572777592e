#!/usr/bin/env bash
# Runs the libFuzzer targets of the portable core (tests/fuzz) for a set time each, on their starting
# corpora and dictionaries, and fails on any finding. Usage: scripts/fuzz.sh [seconds] [target ...]
# (30 seconds each and every target by default). New inputs and findings stay in the build folder:
# build/native-asan/fuzz/{work,findings}; copy a finding into tests/fuzz/corpus/<target>/ once fixed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seconds=${1:-30}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(transcript compose config mailto)

if ! command -v clang++ >/dev/null; then
    echo "fuzz: clang++ is not installed (scripts/setup.sh installs it)" >&2
    exit 1
fi
cmake --preset native-asan >/dev/null
cmake --build --preset native-asan -j 2 --target fuzz_targets >/dev/null

bin="$root/build/native-asan/fuzz"
failed=0
for t in "${targets[@]}"; do
    case "$t" in
        transcript) max_len=16384 ;;
        compose) max_len=8192 ;;
        *) max_len=4096 ;;
    esac
    work="$bin/work/$t"
    findings="$bin/findings"
    mkdir -p "$work" "$findings"
    log="$bin/$t.log"
    # New inputs go to the first folder; the corpus in the repository is only read.
    # One input that runs over 10 s (a quadratic path, say) counts as a finding, as does a leak.
    if "$bin/${t}_fuzz" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
        -dict="$root/tests/fuzz/dict/$t.dict" -artifact_prefix="$findings/$t-" -print_final_stats=1 \
        "$work" "$root/tests/fuzz/corpus/$t" >"$log" 2>&1; then
        verdict=clean
    else
        verdict="FOUND a fault (log: $log; input: $(ls -t "$findings"/"$t"-* 2>/dev/null | head -1))"
        failed=1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    counters=$(sed -n 's/.*Loaded [0-9]* modules *(\([0-9]*\) inline 8-bit counters).*/\1/p' "$log" | head -1)
    edges=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    features=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    printf 'fuzz %-10s %4ss  %9s runs  edges %5s of %5s  features %6s  %s\n' "$t" "$seconds" "${runs:-?}" \
        "${edges:-?}" "${counters:-?}" "${features:-?}" "$verdict"
    if [ "$verdict" != clean ]; then grep -E 'property broken|detail|ERROR|SUMMARY' "$log" | head -5 || true; fi
done
exit $failed
