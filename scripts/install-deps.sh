#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing viriz need.
# Only missing packages are installed; apt waits for a lock held by other work.
set -euo pipefail

packages=(
  # native build
  build-essential cmake pkg-config clang libclang-rt-14-dev clang-format
  libsdl2-dev libpulse-dev libgl-dev libglu1-mesa-dev libegl-dev libpng-dev zlib1g-dev
  libogg-dev libvorbis-dev libgtest-dev libgmock-dev libbenchmark-dev
  libtinyobjloader-dev libfreetype-dev fonts-dejavu-core libdeflate-dev
  # memcheck over the archive fuzz targets' seeds
  valgrind
  # headless display, GL, sound and tools used by the tests
  xvfb xauth x11-utils xdotool imagemagick libgl1-mesa-dri mesa-utils
  pulseaudio pulseaudio-utils vorbis-tools unar sox python3 python3-numpy ffmpeg stress-ng
  # the Python tests' images (Pillow) and the browser tests' DevTools connection
  python3-pil python3-websocket
  # PipeWire beside PulseAudio (the sync tests run each privately): the graph,
  # its session manager, its modules (the PulseAudio-protocol server among
  # them) and the D-Bus session daemon the session manager needs. Not
  # pipewire-pulse: it only adds user services, which would take a PulseAudio
  # desktop's sound socket; the tests start that server from pipewire itself.
  pipewire pipewire-bin wireplumber libspa-0.2-modules libpipewire-0.3-modules dbus-daemon
  # Windows cross-build and its test host
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix libz-mingw-w64-dev
  mingw-w64-tools dpkg-dev wine wine64
  # release files: the package's checks
  lintian
  # the browser build (emscripten) and its tests (headless chromium)
  emscripten chromium
)

sudo_cmd=()
if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  case "$status" in
    *"install ok installed"*) ;;
    *) missing+=("$p") ;;
  esac
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt_opts=(-o DPkg::Lock::Timeout=600 -o Acquire::Retries=3)
"${sudo_cmd[@]}" apt-get "${apt_opts[@]}" update -q
"${sudo_cmd[@]}" apt-get "${apt_opts[@]}" install -y -q "${missing[@]}"
