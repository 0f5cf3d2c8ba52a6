#!/usr/bin/env bash
# Fuzzes one libFuzzer target for a while:
#   run-fuzzer.sh TARGET SEEDS_FILE CORPUS_DIR SECONDS
# SEEDS_FILE lists seed files, one path or glob a line, relative to the
# repository; $SHARED/ stands for the shared test data folder. The corpus
# grows in CORPUS_DIR across runs. Any crash, leak, hang (10 s) or use of more
# than 2 GiB fails the run; the finding is left in CORPUS_DIR/../findings.
set -euo pipefail

target=$1 seeds=$2 corpus=$3 seconds=$4
repo=$(cd "$(dirname "$0")/.." && pwd)
shared=${VIRIZ_SHARED_DIR:-$repo/../shared}
name=$(basename "$target")
findings="$(dirname "$corpus")/findings/$name"
mkdir -p "$corpus" "$findings"

VIRIZ_SHARED_DIR=$shared "$repo/scripts/list-seeds.sh" "$seeds" | while IFS= read -r seed; do
  cp -n "$seed" "$corpus/" || true
done

echo "fuzzing $name for $seconds s from $(ls "$corpus" | wc -l) inputs"
log="$findings/last-run.log"
status=0
"$target" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$findings/" -print_final_stats=1 -detect_leaks=1 >"$log" 2>&1 || status=$?
if [ "$status" != 0 ]; then
  tail -60 "$log"
  echo "$name FAILED (exit $status); the input is in $findings"
else
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)' "$log" || true
fi
echo "corpus: $(ls "$corpus" | wc -l) inputs"
exit "$status"
