#!/usr/bin/env bash
# Prints the seed files a fuzz target's seed list names, one a line:
#   list-seeds.sh SEEDS_FILE
# The list holds one path or glob a line, relative to the repository; $SHARED/
# stands for the shared test data folder (VIRIZ_SHARED_DIR, else ../shared
# beside the repository). Lines that match no file give nothing.
set -euo pipefail

seeds=$1
repo=$(cd "$(dirname "$0")/.." && pwd)
shared=${VIRIZ_SHARED_DIR:-$repo/../shared}

[ -f "$seeds" ] || exit 0
while IFS= read -r line || [ -n "$line" ]; do
  case "$line" in "" | "#"*) continue ;; esac
  pattern=${line/\$SHARED/$shared}
  [ "${pattern:0:1}" = / ] || pattern="$repo/$pattern"
  for seed in $pattern; do
    [ -f "$seed" ] && echo "$seed"
  done
done <"$seeds"
exit 0
