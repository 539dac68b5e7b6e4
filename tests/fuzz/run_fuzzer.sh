#!/usr/bin/env bash
# Runs the key-path fuzzer for a bounded time from the saved inputs.
#   run_fuzzer.sh FUZZER SAVED_INPUTS WORK_DIR SECONDS
set -euo pipefail
fuzzer=$1 saved=$2 work=$3 seconds=$4
rm -rf "$work/corpus"
mkdir -p "$work/corpus" "$work/crashes"
cp "$saved"/* "$work/corpus/"
if ! "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/crashes/" "$work/corpus" >"$work/fuzz.log" 2>&1; then
    tail -n 40 "$work/fuzz.log"
    echo "FAILED: the fuzzer found an input that breaks the game: $(ls "$work/crashes")"
    echo "Save it in tests/fuzz/corpus/ so that it becomes a regular test, then fix the fault."
    exit 1
fi
grep -E '^stat::number_of_executed_runs|^stat::peak_rss_mb|^#[0-9]+.*DONE' "$work/fuzz.log" || true
echo "no failure in $seconds s; corpus of $(ls "$work/corpus" | wc -l) inputs"
