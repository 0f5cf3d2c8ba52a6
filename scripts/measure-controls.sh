#!/usr/bin/env bash
# Prints how long a seek takes from the key press to the new position's frame,
# playing and paused, and the program's CPU use playing and paused, measured
# from outside (see tests/e2e/controls_measure.py). Needs the build (make
# build), or VIRIZ_LINUX_BIN / VIRIZ_WINDOWS_BIN pointing at another.
#   measure-controls.sh [linux|windows]
set -euo pipefail
cd "$(dirname "$0")/../tests/e2e"
export VIRIZ_LINUX_BIN=${VIRIZ_LINUX_BIN:-$PWD/../../build/linux/bin}
export VIRIZ_WINDOWS_BIN=${VIRIZ_WINDOWS_BIN:-$PWD/../../build/windows/bin}
for python in $(type -ap python3); do
  if "$python" -c 'import numpy' 2>/dev/null; then
    exec "$python" controls_measure.py "$@"
  fi
done
echo "measure-controls.sh: no python3 with numpy (scripts/install-deps.sh installs python3-numpy)" >&2
exit 1
