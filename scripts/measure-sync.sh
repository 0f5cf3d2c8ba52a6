#!/usr/bin/env bash
# Prints how far the picture is ahead of the sound (ms; positive: the picture
# comes first) in five runs of each build and their median, measured from
# outside: see tests/e2e/sync.py. Needs the builds (make build).
#   measure-sync.sh [--runs N] [linux] [windows]
set -euo pipefail
cd "$(dirname "$0")/../tests/e2e"
export VIRIZ_LINUX_BIN=${VIRIZ_LINUX_BIN:-$PWD/../../build/linux/bin}
export VIRIZ_WINDOWS_BIN=${VIRIZ_WINDOWS_BIN:-$PWD/../../build/windows/bin}
exec python3 sync.py "$@"
