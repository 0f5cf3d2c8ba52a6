#!/usr/bin/env bash
# Regenerates the golden frames of tests/golden from the current build. Run it
# only on purpose: after a deliberate change to the show or its data set.
set -euo pipefail
cd "$(dirname "$0")/.."
times=$(grep -oP 'kGoldenTimes\[\] = \{\K[^}]*' tests/app/show_gl_test.cpp | tr -d ,)
rm -f tests/golden/frame-*.png
build/linux/bin/viriz-capture --at $times --out tests/golden
