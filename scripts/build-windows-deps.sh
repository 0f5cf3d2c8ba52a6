#!/usr/bin/env bash
# Cross-builds static mingw-w64 libraries of libogg, libvorbis and libpng from
# Debian's own source packages into PREFIX (default build/windows-deps).
# Debian ships no mingw builds of them; zlib comes from libz-mingw-w64-dev.
# The result is cached: a finished PREFIX is reused as it is.
set -euo pipefail

prefix=$(realpath -m "${1:-build/windows-deps}")
stamp="$prefix/.complete"
[ -f "$stamp" ] && exit 0

host=x86_64-w64-mingw32
work="$prefix.work"
log="$prefix.log"
rm -rf "$work" "$prefix"
: >"$log"
mkdir -p "$work" "$prefix"

source "$(dirname "$0")/debian-sources.sh"
unpack_debian_sources viriz-deb-src "$work" "$log" libogg libvorbis libpng1.6
cd "$work"

export CC="$host-gcc-posix" AR="$host-ar" RANLIB="$host-ranlib"
export CPPFLAGS="-I$prefix/include" LDFLAGS="-L$prefix/lib" CFLAGS="-O2"
export PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig"
jobs=$(nproc)

configure_and_install() {
  local dir=$1
  shift
  (cd "$dir" && ./configure --host=$host --prefix="$prefix" --disable-shared --enable-static "$@" &&
    make -j"$jobs" && make install)
}

build() {
  run_logged "$log" "$1 for Windows" configure_and_install "$@"
}

build libogg-*/
build libvorbis-*/ --disable-docs --disable-examples --disable-oggtest
build libpng1.6-*/

cd / && rm -rf "$work"
touch "$stamp"
echo "Windows libraries ready in $prefix"
