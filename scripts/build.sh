#!/usr/bin/env bash
# Sets up, builds and runs cvcomp on Debian 12.
#   scripts/build.sh run       install what is missing, build, run the main example
#   scripts/build.sh test      install what is missing, build, run the whole test suite
#   scripts/build.sh sanitize  the test suite under AddressSanitizer and UndefinedBehaviorSanitizer
#   scripts/build.sh bench     build in Release and run the benchmarks (arguments go to cvcomp_bench)
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++ cmake make pkg-config libopencv-dev opencv-data opencv-doc nlohmann-json3-dev
          libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev binutils)

install_missing() {
  local missing=()
  for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}"
}

build() {  # build DIR [cmake options...]
  local dir=$1
  shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}

case "${1:-}" in
  run)
    install_missing
    build build
    mkdir -p out
    build/bin/cvcomp run examples/face-detect.json --json out/faces.jsonl --video out/faces.avi
    echo "Wrote out/faces.jsonl (face rectangles per frame) and out/faces.avi (annotated clip)"
    ;;
  test)
    install_missing
    build build
    ctest --test-dir build --output-on-failure -j "$(nproc)"
    ;;
  sanitize)
    install_missing
    build build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCVCOMP_SANITIZE=ON
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      ctest --test-dir build-sanitize --output-on-failure -j "$(nproc)"
    ;;
  bench)
    install_missing
    build build
    cmake --build build -j "$(nproc)" --target cvcomp_bench cvcomp_micro
    build/bin/cvcomp_micro
    build/bin/cvcomp_bench "${@:2}"
    ;;
  *)
    echo "usage: scripts/build.sh run|test|sanitize|bench" >&2
    exit 2
    ;;
esac
