#!/usr/bin/env bash
# Installs what is missing, builds, and runs one of:
#   ./setup.sh demo   the video wall on built-in local test channels (in a private network namespace)
#   ./setup.sh test   the whole test suite: normal build, ASan+UBSan build, bounded fuzzing
#   ./setup.sh build  just the normal build in build/
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libglib2.0-dev libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  libclutter-1.0-dev libclutter-gst-3.0-dev libpango1.0-dev libpcap-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-plugins-ugly gstreamer1.0-libav gstreamer1.0-x gstreamer1.0-tools
  libgtest-dev googletest
  xvfb xauth x11-utils xdotool imagemagick libgl1-mesa-dri iproute2 procps ffmpeg
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_missing() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    as_root apt-get update
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
  fi
}

configure_and_build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}

run_tests() {
  local dir=$1
  ctest --test-dir "$dir" --output-on-failure --timeout 900
}

cmd=${1:-build}
install_missing
case "$cmd" in
  build)
    configure_and_build build
    ;;
  test)
    configure_and_build build
    run_tests build
    configure_and_build build-asan -DTILU_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
    run_tests build-asan
    configure_and_build build-fuzz -DTILU_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
    run_tests build-fuzz
    ;;
  demo)
    configure_and_build build
    shift || true
    exec tools/demo.sh "$@"
    ;;
  *)
    echo "usage: $0 [build|test|demo]" >&2
    exit 2
    ;;
esac
