#!/usr/bin/env bash
# Runs every fuzzer in a build folder for a few seconds each (CI smoke run;
# the long campaigns are run by hand with -max_total_time).
set -euo pipefail
dir=${1:-build/fuzz}
seconds=${2:-20}
shopt -s nullglob
status=0
for fuzzer in "$dir"/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  corpus=$(mktemp -d)
  if ! "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 "$corpus" 2>"$corpus.log"; then
    tail -40 "$corpus.log"; status=1
  else
    echo "$(basename "$fuzzer"): $(grep -m1 'stat::number_of_executed_units' "$corpus.log" || echo 'ran')"
  fi
  rm -rf "$corpus" "$corpus.log"
done
exit $status
