#!/usr/bin/env bash
# Prints how far the picture is ahead of the sound (ms; positive: the picture
# comes first), measured from outside (see tests/e2e/sync.py), in each case:
# the Linux build on PulseAudio and on PipeWire, the Windows build under Wine
# on each of them in a new and in a warm prefix. Each run gives the offset
# early in the show (9.6 s), late in it (48 to 49.2 s) and 3 s after a 300 ms
# freeze of the program (52.3 to 52.8 s), by a 5 ms and a 40 ms recorder,
# and the drift from early to late; each case ends with the medians over its
# runs. Each case has a "-seek" twin (linux-pulse-seek, ...): the show starts
# at 1 s and Right moves it to 6 s at once, so that everything is measured
# after a seek. Needs the builds (make build), or VIRIZ_LINUX_BIN and
# VIRIZ_WINDOWS_BIN pointing at others.
#   measure-sync.sh [--runs N] [--wine-underflows] [CASE|linux|windows]...
#                                  (default: 5 runs of every case; --wine-underflows
#                                  counts the server's underflows of Wine's stream)
#   measure-sync.sh --help                                the case names
exec "$(dirname "$0")/e2e-python.sh" sync.py "$@"
