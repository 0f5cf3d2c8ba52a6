#!/usr/bin/env bash
# Makes the release files in dist/ from the built trees (make dist builds them
# first): the Windows zip, the Debian package, the video of the whole show,
# and SHA256SUMS over the three. The version is the CMake project's.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
linux=$repo/build/linux
windows=$repo/build/windows/bin
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$linux/CMakeCache.txt")
[ -n "$version" ] || { echo "make-dist: no project version in $linux/CMakeCache.txt" >&2; exit 1; }
password=$(sed -n 's/^VIRIZ_DATA_PASSWORD:INTERNAL=//p' "$linux/CMakeCache.txt")
[ -n "$password" ] || { echo "make-dist: no data password in $linux/CMakeCache.txt" >&2; exit 1; }

dist=$repo/dist
work=$repo/build/dist
rm -rf "$dist" "$work"
mkdir -p "$dist" "$work" "$linux/packaging"

# The video first: its first frames also give the package's icon.
echo "make-dist: capturing the show at 60 fps"
"$linux/bin/viriz-pack" extract "$linux/bin/data.dat" kelvo.ogg -p "$password" -o "$work/kelvo.ogg"
seconds=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$work/kelvo.ogg")
"$linux/bin/viriz-capture" --data "$linux/bin" --fps 60 --from 0 --to "$seconds" \
  --out "$work/frames" --video "$dist/viriz-$version.mp4"

# The icon: the middle of the frame at 20 s, where the mesh fills the picture.
"$linux/bin/viriz-capture" --data "$linux/bin" --at 20 --out "$work/icon"
convert "$work/icon/frame-00020.000.png" -gravity center -crop 400x400+0+0 +repage \
  -resize 64x64 -strip "$linux/packaging/viriz.png"
# A native package's changelog, compressed as Debian's tools do (no name or time stamp).
printf 'viriz (%s) unstable; urgency=low\n\n  * Release %s.\n\n -- %s  %s\n' \
  "$version" "$version" "viriz developers <viriz@example.org>" \
  "$(date -R -d @"$(git log -1 --format=%ct 2>/dev/null || date +%s)")" |
  gzip -9n > "$linux/packaging/changelog.gz"

gzip -9n < packaging/viriz.6 > "$linux/packaging/viriz.6.gz"

echo "make-dist: Debian package"
rm -rf "$linux/packages"
(cd "$linux" && cpack -G DEB > "$work/cpack.log") || { cat "$work/cpack.log"; exit 1; }
cp "$linux/packages/viriz_${version}_amd64.deb" "$dist/"

echo "make-dist: Windows zip"
zipdir=$work/win64
mkdir -p "$zipdir"
cp "$windows/viriz.exe" "$windows/data.dat" "$zipdir/"
cp -r "$windows/data" "$zipdir/"
sed "s/@PROJECT_VERSION@/$version/; s/\$/\r/" packaging/README.txt.in > "$zipdir/README.txt"
(cd "$zipdir" && cmake -E tar cf "$dist/viriz-$version-win64.zip" --format=zip -- \
  viriz.exe data.dat data README.txt)

(cd "$dist" && sha256sum "viriz-$version-win64.zip" "viriz_${version}_amd64.deb" \
  "viriz-$version.mp4" > SHA256SUMS)
rm -rf "$work/frames"
ls -l "$dist"
