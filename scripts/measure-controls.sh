#!/usr/bin/env bash
# Prints how long a seek takes from the key press to the new position's frame,
# playing and paused, and the program's CPU use playing and paused, measured
# from outside (see tests/e2e/controls_measure.py). Needs the build (make
# build), or VIRIZ_LINUX_BIN / VIRIZ_WINDOWS_BIN pointing at another.
#   measure-controls.sh [linux|windows]
exec "$(dirname "$0")/e2e-python.sh" controls_measure.py "$@"
