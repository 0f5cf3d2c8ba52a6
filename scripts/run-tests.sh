#!/usr/bin/env bash
# Runs every test of the built trees (make test builds them first):
#   build/linux  every label (the Windows build's tests run from here, under Wine)
#   build/web    the browser build (make web), in headless Chromium
#   build/asan   the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   build/tsan   the threaded audio tests under ThreadSanitizer
#   build/fuzz   each libFuzzer target for 40 s
#   dist/        the release files (made by make dist), unpacked and run
# and ends with one line that counts them all.
#
#   run-tests.sh --under-load   only the end-to-end and audio tests of both
#                               builds (the sync measurements too), while
#                               stress-ng keeps every core busy
#   run-tests.sh --dist         only the release files' tests
#   run-tests.sh --web          only the browser build's tests
set -uo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
jobs=${JOBS:-$(nproc)}

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$repo/tests/sanitizer/lsan.supp:print_suppressions=0"
export TSAN_OPTIONS="suppressions=$repo/tests/sanitizer/tsan.supp:halt_on_error=1"

passed=0 failed=0 skipped=0 failed_phases=()

run_phase() {
  local phase=$1 dir=$2
  shift 2
  echo
  echo "=== $phase ($dir) ==="
  local log
  log=$(mktemp)
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" "$@" 2>&1 | tee "$log"
  local status=${PIPESTATUS[0]}
  local summary
  summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  local skips
  skips=$(grep -c '\*\*\*Skipped ' "$log")
  rm -f "$log"
  if [[ $summary =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
    failed=$((failed + BASH_REMATCH[1]))
    passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1] - skips))
    skipped=$((skipped + skips))
  fi
  if [ "$status" != 0 ]; then
    failed_phases+=("$phase")
    [ -n "$summary" ] || failed=$((failed + 1))
  fi
}

if [ "${1:-}" = --under-load ]; then
  # A CPU hog on every core, started here and stopped by its process id.
  stress-ng --cpu "$(nproc)" --quiet &
  hog=$!
  trap 'kill "$hog" 2>/dev/null; wait "$hog" 2>/dev/null' EXIT
  echo "stress-ng --cpu $(nproc) running as process $hog"
  run_phase "audio tests under load" build/linux -L audio
  run_phase "end-to-end tests under load" build/linux -R '^(e2e|windows)\.'
  run_phase "end-to-end tests under ASan and load" build/asan -R '^e2e\.' -E '^e2e\.sync' \
    -LE windows
  run_phase "threaded tests under TSan and load" build/tsan -L audio
elif [ "${1:-}" = --web ]; then
  run_phase "browser build" build/linux -L web
elif [ "${1:-}" = --dist ]; then
  run_phase "release files" build/linux -L dist
else
  if [ ! -d ../shared/testdata ]; then
    echo "No shared test data beside the repository (../shared/testdata): the tests that"
    echo "read the real archives made by other archivers are skipped."
  fi
  run_phase "tests" build/linux -LE 'fuzz|dist|web'
  # Under ASan, not the sync measurements (timing, not memory) nor the check
  # that two generator runs agree byte for byte: the other generated-file
  # tests run the same generator under ASan, and the plain build compares.
  run_phase "tests under ASan and UBSan" build/asan -LE 'fuzz|windows|dist|web' \
    -E '^(e2e\.sync|GeneratedFiles\.SameBytesOnEveryRun$)'
  run_phase "threaded tests under TSan" build/tsan -L audio
  run_phase "fuzzing" build/fuzz -L fuzz
  run_phase "release files" build/linux -L dist
  run_phase "browser build" build/linux -L web
fi

echo
if [ ${#failed_phases[@]} -ne 0 ]; then
  echo "failing phases: ${failed_phases[*]}"
fi
echo "all: $passed passed, $failed failed, $skipped skipped"
[ ${#failed_phases[@]} -eq 0 ]
