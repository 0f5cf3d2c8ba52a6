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
# after a seek. Needs the builds (make build), or VIRIZ_LINUX_BIN and
# VIRIZ_WINDOWS_BIN pointing at others.
#   measure-sync.sh [--runs N] [--wine-underflows] [CASE|linux|windows]...
#                                  (default: 5 runs of every case; --wine-underflows
#                                  counts the server's underflows of Wine's stream)
#   measure-sync.sh --help                                the case names
exec "$(dirname "$0")/e2e-python.sh" sync.py "$@"
