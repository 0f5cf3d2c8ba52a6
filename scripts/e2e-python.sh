#!/usr/bin/env bash
# Runs tests/e2e/SCRIPT with the first python3 on the path that has Debian's
# numpy (python3-numpy): one earlier on the path (a virtualenv, pyenv) may not
# see Debian's modules. The builds are build/linux and build/windows unless
# VIRIZ_LINUX_BIN / VIRIZ_WINDOWS_BIN point at others.
#   e2e-python.sh SCRIPT [ARG]...
set -euo pipefail
cd "$(dirname "$0")/../tests/e2e"
export VIRIZ_LINUX_BIN=${VIRIZ_LINUX_BIN:-$PWD/../../build/linux/bin}
export VIRIZ_WINDOWS_BIN=${VIRIZ_WINDOWS_BIN:-$PWD/../../build/windows/bin}
for python in $(type -ap python3); do
  if "$python" -c 'import numpy' 2>/dev/null; then
    exec "$python" "$@"
  fi
done
echo "$(basename "$1"): no python3 with numpy (scripts/install-deps.sh installs python3-numpy)" >&2
exit 1
