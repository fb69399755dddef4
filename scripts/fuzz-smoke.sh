#!/usr/bin/env bash
# Runs every fuzzer in a build folder for a few seconds each (CI smoke run),
# starting from the kept corpus (fuzz/corpus/<fuzzer>/, read only: new inputs
# go to a scratch folder), after replaying every input that once crashed it
# (fuzz/regressions/<fuzzer>/). The long campaigns: scripts/fuzz-campaign.sh.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dir=${1:-build/fuzz}
seconds=${2:-20}
shopt -s nullglob
. "$root/scripts/fuzz-isolated.sh"
status=0
for fuzzer in "$dir"/fuzz_*; do
  [ -x "$fuzzer" ] && [ ! -d "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  regressions=("$root/fuzz/regressions/$name"/*)
  if [ ${#regressions[@]} -gt 0 ] && ! isolated "$fuzzer" "${regressions[@]}" >/dev/null 2>&1; then
    echo "$name: a fixed crash is back (fuzz/regressions/$name)"; status=1
  fi
  corpus=$(mktemp -d)
  kept=()
  [ -d "$root/fuzz/corpus/$name" ] && kept=("$root/fuzz/corpus/$name")
  if ! isolated "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 "$corpus" "${kept[@]}" >/dev/null 2>"$corpus.log"; then
    tail -40 "$corpus.log"; status=1
  else
    echo "$name: $(grep -m1 'stat::number_of_executed_units' "$corpus.log" || echo 'ran')"
  fi
  rm -rf "$corpus" "$corpus.log"
done
exit $status
