#!/usr/bin/env bash
# Prints how far the picture is ahead of the sound (ms; positive: the picture
# comes first), measured from outside (see tests/e2e/sync.py), in each case:
# the Linux build on PulseAudio and on PipeWire, the Windows build under Wine
# on each of them in a new and in a warm prefix, and each build on a sink
# with a device latency (linux-device-latency, windows-device-latency: two
# private PulseAudio servers joined by the tunnel module, see the README).
# Each run of the show from 38.4 s gives the offset early (the credits'
# changes at 48 to 50.4 s), late (87 to 88.8 s) and 3 s after a 300 ms
# freeze of the program (91.8 to 93.6 s), by a 5 ms and a 40 ms recorder,
# and the drift from early to late; each case ends with the medians over its
# runs. Each case has a "-seek" twin (linux-pulse-seek, ...): the show starts
# at 33.4 s and Right moves it to 38.4 s at once, so that everything is measured
# after a seek. The case "web" is the page in Chromium on an X server, measured
# from outside the same way (tests/web/sync_page.py), each run with the page's
# frame interval. Needs the builds (make build, make web), or VIRIZ_LINUX_BIN,
# VIRIZ_WINDOWS_BIN and VIRIZ_WEB_DIR pointing at others.
#   measure-sync.sh [--runs N] [--wine-underflows] [CASE|linux|windows|web]...
#                                  (default: 5 runs of every case; --wine-underflows
#                                  counts the server's underflows of Wine's stream)
#   measure-sync.sh --help                                the case names
set -euo pipefail
here=$(dirname "$0")
# "web" goes to the page's measurement, the rest to sync.py; with no case
# named, both run.
desktop=() runs=5 cases=0 web=false help=false
while [ $# -gt 0 ]; do
  case $1 in
    web) web=true; cases=$((cases + 1)) ;;
    --runs) desktop+=("$1" "$2"); runs=$2; shift ;;
    -h|--help) desktop+=("$1"); help=true ;;
    -*) desktop+=("$1") ;;
    *) desktop+=("$1"); cases=$((cases + 1)) ;;
  esac
  shift
done
if $help || ! $web || [ "$cases" -gt 1 ]; then
  "$here/e2e-python.sh" sync.py "${desktop[@]}"
fi
if ! $help && { $web || [ "$cases" -eq 0 ]; }; then
  "$here/e2e-python.sh" ../web/sync_page.py --runs "$runs"
fi
