#!/usr/bin/env bash
# Runs the demo from its build folder (it reads data.dat and data/ beside it).
# Without a display it says so and runs the show headless instead, keeping a
# few screenshots and a recording of the sound in build/run/.
set -euo pipefail
bin=$(realpath "${1:-build/linux/bin}")
repo=$(cd "$(dirname "$0")/.." && pwd)

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  cd "$bin"
  exec ./viriz
fi

echo "No display here: running the show headless (Xvfb 640x480x24, a null sound sink)."
exec python3 "$repo/scripts/run-headless.py" "$bin" "$repo/build/run"
