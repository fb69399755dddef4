#!/usr/bin/env bash
# Runs every fuzzer (or those named) for a set number of executions, from the
# kept corpus under fuzz/corpus/<fuzzer>/, then merges into that corpus the
# inputs that reached new code. A crash leaves its input under
# fuzz/findings/ and fails the run; once fixed, the input goes to
# fuzz/regressions/<fuzzer>/, which the CI smoke run replays.
# Prints, and writes to build/fuzz/campaign.md, one row per fuzzer: executions,
# seconds, executions per second, edge coverage (libFuzzer's "cov") and
# features ("ft") at the end, corpus files before and after.
#
#   scripts/fuzz-campaign.sh [runs, default 10000000] [max seconds per fuzzer, default 3600] [fuzzer...]
#
# FUZZ_REPORT names another table file, so two campaigns can run side by side
# on different fuzzers (one per core).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/fuzz"
runs=${1:-10000000}
max_time=${2:-3600}
shift $(( $# > 2 ? 2 : $# ))
if [[ $# -gt 0 ]]; then
    fuzzers=("$@")
else
    fuzzers=()
    for f in "$build"/fuzz_*; do [[ -x "$f" && ! -d "$f" ]] && fuzzers+=("$(basename "$f")"); done
fi
if [[ ${#fuzzers[@]} -eq 0 ]]; then
    echo "fuzz-campaign: no fuzzers in $build (cmake --preset fuzz && cmake --build --preset fuzz)" >&2
    exit 2
fi
mkdir -p "$root/fuzz/findings"
report="${FUZZ_REPORT:-$build/campaign.md}"
{
    echo "| fuzzer | executions | seconds | exec/s | edges (cov) | features (ft) | corpus before → after |"
    echo "|---|---:|---:|---:|---:|---:|---|"
} > "$report"
. "$root/scripts/fuzz-isolated.sh"
status=0
for name in "${fuzzers[@]}"; do
    fuzzer="$build/$name"
    kept="$root/fuzz/corpus/$name"
    mkdir -p "$kept"
    before=$(find "$kept" -type f | wc -l)
    fresh=$(mktemp -d)
    log=$(mktemp)
    start=$(date +%s)
    rc=0
    isolated "$fuzzer" -runs="$runs" -max_total_time="$max_time" -print_final_stats=1 \
        -artifact_prefix="$root/fuzz/findings/$name-" "$fresh" "$kept" >"$log" 2>&1 || rc=$?
    if [[ $rc -eq 72 ]]; then
        # libFuzzer's exit code for an interrupt (Ctrl-C, or SIGINT to stop
        # a campaign early): keep what it found and report its count.
        echo "fuzz-campaign: $name interrupted" >&2
    elif [[ $rc -ne 0 ]]; then
        echo "fuzz-campaign: $name found a crash:" >&2
        grep -E "ERROR|SUMMARY|Test unit written" "$log" | head -5 >&2 || true
        status=1
    fi
    seconds=$(( $(date +%s) - start ))
    execs=$(grep -m1 -oE 'stat::number_of_executed_units: [0-9]+' "$log" | awk '{print $2}')
    last=$(grep -E '^#[0-9]+' "$log" | tail -1)
    cov=$(grep -oE 'cov: [0-9]+' <<<"$last" | awk '{print $2}')
    ft=$(grep -oE 'ft: [0-9]+' <<<"$last" | awk '{print $2}')
    # Keep only what adds coverage to the kept corpus.
    isolated "$fuzzer" -merge=1 "$kept" "$fresh" >/dev/null 2>&1 || true
    after=$(find "$kept" -type f | wc -l)
    rate=$(( ${execs:-0} / (seconds > 0 ? seconds : 1) ))
    row="| $name | ${execs:-?} | $seconds | $rate | ${cov:-?} | ${ft:-?} | $before → $after |"
    echo "$row" | tee -a "$report"
    rm -rf "$fresh" "$log"
done
echo "fuzz-campaign: table in $report"
exit $status
