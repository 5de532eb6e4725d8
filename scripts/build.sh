#!/usr/bin/env bash
# Sets up, builds and runs cvcomp on Debian 12.
#   scripts/build.sh run       install what is missing, build, run the main example
#   scripts/build.sh test      install what is missing, build, run the whole test suite
#   scripts/build.sh sanitize  the test suite under AddressSanitizer and UndefinedBehaviorSanitizer
#   scripts/build.sh bench     build in Release and run the benchmarks (arguments go to cvcomp_bench)
#   scripts/build.sh package   build, make build/package/cvcomp_VERSION_ARCH.deb, check it with lintian
#   scripts/build.sh image     the package, then the container image in build/image
#                              (deploy/image/build.sh)
#   scripts/build.sh fuzz      build the libFuzzer targets with clang and run each of
#                              $FUZZ_TARGETS (default: all four) from a fixed seed for a fixed
#                              number of inputs, so that a run can be repeated exactly; fails on a
#                              crash, a hang or a sanitizer report
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++ cmake make pkg-config libopencv-dev opencv-data opencv-doc nlohmann-json3-dev
          libcli11-dev libgtest-dev libgmock-dev zlib1g-dev binutils clang libclang-rt-14-dev
          libcivetweb-dev)
# The studio's page and its browser tests: Node for npm and the tests, Debian's Chromium to drive.
packages+=(nodejs chromium)
command -v npm >/dev/null || packages+=(npm)
# The GStreamer element and its tests (MPEG-4 clips decode with libav), and the GNU parallel recipe.
packages+=(libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools
           gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav parallel)
# The Python module and its tests, and OpenCV's own bindings for the README's example.
packages+=(pybind11-dev python3-dev python3-numpy python3-pytest python3-opencv python3-yaml)
# The image's builder (with the tools it recommends: mount, gpg), and for the deploy recipes'
# tests and the package a single-node Slurm, Dask's distributed scheduler and the Debian
# package's tools, these without their recommendations (with them, they came to 260 packages on
# Debian 12 with the build's packages in place).
packages+=(mmdebstrap)
lean_packages=(munge slurmctld slurmd slurm-client python3-distributed lintian dpkg-dev)

missing_of() {
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      echo "$package"
  done
}

install_missing() {
  local missing lean
  mapfile -t missing < <(missing_of "${packages[@]}")
  mapfile -t lean < <(missing_of "${lean_packages[@]}")
  [ ${#missing[@]} -eq 0 ] && [ ${#lean[@]} -eq 0 ] && return
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  echo "Installing: ${missing[*]} ${lean[*]}"
  "${sudo[@]}" apt-get update -q
  [ ${#missing[@]} -eq 0 ] ||
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}"
  [ ${#lean[@]} -eq 0 ] || DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q \
    --no-install-recommends "${lean[@]}"
}

# The studio page's packages, from its lock file, when missing or older than the lock.
web_packages() {
  [ studio/web/node_modules/.package-lock.json -nt studio/web/package-lock.json ] ||
    npm ci --prefix studio/web --no-audit --no-fund
}

build() {  # build DIR [cmake options...]
  local dir=$1
  shift
  web_packages
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
    # A failed huge allocation gives null, as outside the sanitizer, so OpenCV reports it.
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1 \
      UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      ctest --test-dir build-sanitize --output-on-failure -j "$(nproc)"
    ;;
  fuzz)
    install_missing
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCVCOMP_FUZZ=ON -DCVCOMP_BUILD_TESTS=OFF >/dev/null
    cmake --build build-fuzz -j "$(nproc)" --target fuzz_targets
    # New inputs go to a fresh build-fuzz/corpus; the seeds in fuzz/corpus stay as they are.
    for target in ${FUZZ_TARGETS:-composition edits live_message cascade tracker_points}; do
      rm -rf "build-fuzz/corpus/$target" && mkdir -p "build-fuzz/corpus/$target"
      # About a minute each on this machine.
      case $target in
        composition | live_message) runs=300000 ;;
        # Each input builds a composition to apply its edits to.
        edits) runs=200000 ;;
        # Each cascade input is read in a child process first, which makes it slower.
        cascade) runs=6000 ;;
        *) runs=3000 ;;
      esac
      echo "Fuzzing $target: ${FUZZ_RUNS:-$runs} inputs from seed ${FUZZ_SEED:-1}"
      if ! ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
          UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
          "build-fuzz/fuzz/${target}_fuzz" -seed="${FUZZ_SEED:-1}" -runs="${FUZZ_RUNS:-$runs}" -timeout=10 \
          -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="build-fuzz/$target-" \
          "build-fuzz/corpus/$target" "fuzz/corpus/$target" >"build-fuzz/$target.log" 2>&1; then
        tail -n 60 "build-fuzz/$target.log"
        echo "Fuzzing $target failed: the input is in build-fuzz/$target-*" >&2
        exit 1
      fi
      grep -E '^stat::number_of_executed_units' "build-fuzz/$target.log" || true
    done
    ;;
  package | image)
    install_missing
    build build
    rm -f build/package/cvcomp_*.deb
    cpack -G DEB --config build/CPackConfig.cmake -B build/package
    deb=$(echo build/package/cvcomp_*.deb)
    lintian --fail-on error "$deb"
    [ "$1" == package ] || deploy/image/build.sh "$deb" build/image
    ;;
  bench)
    # Only the micro-benchmarks need Google Benchmark.
    packages+=(libbenchmark-dev)
    install_missing
    build build
    cmake --build build -j "$(nproc)" --target cvcomp_bench cvcomp_micro cvcomp_python_bench
    build/bin/cvcomp_micro
    build/bin/cvcomp_python_bench
    build/bin/cvcomp_bench "${@:2}"
    ;;
  *)
    echo "usage: scripts/build.sh run|test|sanitize|fuzz|bench|package|image" >&2
    exit 2
    ;;
esac
