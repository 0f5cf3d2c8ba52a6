#!/usr/bin/env bash
# Replays fuzz targets' seeds under valgrind's memcheck, which reports any
# decision, address or output made from bytes that were never written
# (AddressSanitizer sees only reads outside a buffer):
#   run-memcheck.sh REPLAY SEEDS_FILE [REPLAY SEEDS_FILE]...
# REPLAY is a target's replay program (fuzz/replay_main.cpp), SEEDS_FILE its
# seed list (scripts/list-seeds.sh). VIRIZ_MEMCHECK_EXTRA names folders of
# more inputs for every target (a grown corpus, say build/fuzz/corpus/NAME is
# a target's own: use it when replaying one target). Any report fails the run.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
if ! command -v valgrind >/dev/null; then
  echo "valgrind is not installed (scripts/install-deps.sh installs it)"
  exit 1
fi

status=0
while [ $# -ge 2 ]; do
  replay=$1 seeds=$2
  shift 2
  mapfile -t inputs < <("$repo/scripts/list-seeds.sh" "$seeds")
  # shellcheck disable=SC2206
  extra=(${VIRIZ_MEMCHECK_EXTRA:-})
  start=$(date +%s)
  if ! valgrind --tool=memcheck --error-exitcode=99 --track-origins=yes --leak-check=no \
    --quiet "$replay" "${inputs[@]}" "${extra[@]}"; then
    echo "$(basename "$replay"): memcheck FAILED"
    status=1
  fi
  echo "$(basename "$replay"): ${#inputs[@]} seeds under memcheck in $(($(date +%s) - start)) s"
done
exit "$status"
