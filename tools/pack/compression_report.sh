#!/bin/bash
# Compares the packed size of `viriz-pack create --method best` with archives
# of the same content made by real archivers (the shared RAR test data).
# usage: compression_report.sh [VIRIZ_PACK] [TESTDATA_RAR_DIR]
set -euo pipefail
pack=$(realpath "${1:-build/linux/bin/viriz-pack}")
rar=${2:-$(dirname "$0")/../../../shared/testdata/rar}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Sum of the packed sizes of the listed entries whose names match a pattern.
packed() { "$pack" list "$1" | awk -v re="$2" 'NR > 1 && $NF ~ re { sum += $2 } END { print sum + 0 }'; }

report() { # label, ours, theirs
  awk -v label="$1" -v ours="$2" -v theirs="$3" 'BEGIN {
    printf "%-44s %9d %9d  %6.3f  %s\n", label, ours, theirs, ours / theirs,
           ours <= theirs ? "ok" : "LARGER" }'
}

printf "%-44s %9s %9s  %6s\n" "content (packed bytes)" ours theirs ratio

cp "$rar/expected/zxtune_etalon.bin" "$work/p5.bin"
(cd "$work" && "$pack" create zx.rar --method best p5.bin)
report "zxtune_etalon.bin vs test_v2 -m5 p5.bin" "$(packed "$work/zx.rar" .)" \
  "$(packed "$rar/v20/zxtune_test_v2.rar" '^p5[.]bin$')"

cp "$rar/expected/junrar_BoatModernEnglish.wav" "$work/BoatModernEnglish.wav"
(cd "$work" && "$pack" create boat.rar --method best BoatModernEnglish.wav)
ours=$(packed "$work/boat.rar" .)
report "BoatModernEnglish.wav vs audio-mode archive" "$ours" \
  "$(packed "$rar/v20/junrar_BoatModernEnglish-audio-text-unpack20.rar" 'wav$')"
report "BoatModernEnglish.wav vs regular archive" "$ours" \
  "$(packed "$rar/v20/junrar_BoatModernEnglish-regular-unpack20.rar" 'wav$')"

cp -r "$rar/expected/sharpcompress_Original/." "$work/"
(cd "$work" && "$pack" create sharp.rar --method best exe/test.exe jpg/test.jpg тест.txt)
report "sharpcompress originals vs Rar2.rar" "$(packed "$work/sharp.rar" .)" \
  "$(packed "$rar/v20/sharpcompress_Rar2.rar" .)"
