#!/usr/bin/env bash
# Builds static WebAssembly libraries of zlib, libogg, libvorbis and libpng
# from Debian's own source packages with emscripten into PREFIX (default
# build/web-deps). emscripten's own ports would be downloaded at build time,
# which these machines cannot do. The result is cached: a finished PREFIX is
# reused as it is.
set -euo pipefail

prefix=$(realpath -m "${1:-build/web-deps}")
stamp="$prefix/.complete"
[ -f "$stamp" ] && exit 0

work="$prefix.work"
log="$prefix.log"
rm -rf "$work" "$prefix"
: >"$log"
mkdir -p "$work" "$prefix"

source "$(dirname "$0")/debian-sources.sh"
unpack_debian_sources viriz-web-deb-src "$work" "$log" zlib libogg libvorbis libpng1.6
cd "$work"

# emcc's link step runs node, which finds Debian's JavaScript modules only here.
export NODE_PATH=/usr/share/nodejs
# The program uses threads: every object of a shared-memory program is built
# with -pthread.
export CPPFLAGS="-I$prefix/include" LDFLAGS="-L$prefix/lib" CFLAGS="-O2 -pthread"
# emconfigure points pkg-config at emscripten's own folder and this one.
export EM_PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
jobs=$(nproc)

# emconfigure points the configure scripts at emcc. Their config.sub knows no
# emscripten system, so the host is named wasm32 on Linux: a cross build (no
# test programs run) for a CPU without special flags.
run_logged "$log" "zlib for the web" bash -c "cd zlib-*/ && emconfigure ./configure --static --prefix='$prefix' &&
  emmake make -j$jobs libz.a && emmake make install"

autotools() {
  local dir=$1
  shift
  run_logged "$log" "$dir for the web" bash -c "cd $dir && emconfigure ./configure --host=wasm32-unknown-linux \
    --prefix='$prefix' --disable-shared --enable-static $* && emmake make -j$jobs && emmake make install"
}

autotools libogg-*/
autotools libvorbis-*/ --disable-docs --disable-examples --disable-oggtest
autotools libpng1.6-*/ --disable-tools --disable-hardware-optimizations

cd / && rm -rf "$work"
touch "$stamp"
echo "web libraries ready in $prefix"
