#!/bin/sh
# SPDX-License-Identifier: MIT
# One bounded fuzzing run from seed 1 in a fresh corpus:
#   smoke.sh WORK_DIR SECONDS MAX_LEN FUZZER [SEED_CORPUS_MAKER]
set -eu
work=$1 seconds=$2 max_len=$3 fuzzer=$4 maker=${5:-}
name=$(basename "$fuzzer")
rm -rf "$work/$name" && mkdir -p "$work/$name/corpus" "$work/$name/seeds"
[ -z "$maker" ] || "$maker" "$work/$name/seeds" >/dev/null
"$fuzzer" -seed=1 -max_total_time="$seconds" -timeout=10 -max_len="$max_len" \
  -print_final_stats=1 -artifact_prefix="$work/$name/" \
  "$work/$name/corpus" "$work/$name/seeds" > "$work/$name/log" 2>&1 || status=$?
grep -E '^(Done|stat::number_of_executed_units)|ERROR|SUMMARY|check failed' "$work/$name/log" || true
exit "${status:-0}"
