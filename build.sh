#!/usr/bin/env bash
# Tandra USB build helper.
#   ./build.sh run       install what is missing, build, start the window on the virtual programmer
#   ./build.sh test      install what is missing, build, run every test
#   ./build.sh sanitize  the same tests built with AddressSanitizer and UndefinedBehaviorSanitizer
#   ./build.sh bench     build and run the benchmarks
#   ./build.sh soak [seed] [operations]  the seeded soak of the core under injected faults
#   ./build.sh package   build the Debian package (build-package/tandra-usb_*.deb)
#   ./build.sh mutants   apply each listed fault of the core in turn; fail if the tests miss one
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(build-essential cmake pkg-config qt6-base-dev libgl-dev libgtest-dev libgmock-dev
          libbenchmark-dev libftdi1-dev libcli11-dev nlohmann-json3-dev libssl-dev zlib1g-dev
          umockdev srecord xxd python3-jsonschema
          dpkg-dev desktop-file-utils appstream lintian g++-mingw-w64-x86-64-posix libz-mingw-w64-dev)
JOBS=$(nproc 2>/dev/null || echo 2)

install_missing() {
  local missing=() p
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -q
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

build() {  # build <dir> [cmake options...]
  local dir=$1; shift
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
}

case "${1:-}" in
  run)
    install_missing
    build build
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
      echo "No display: the window needs an X11 or Wayland session." >&2
      echo "Run this from a desktop session, or give it a virtual one: xvfb-run -a ./build.sh run" >&2
      exit 2
    fi
    exec build/src/gui/tandra-usb --virtual
    ;;
  test)
    install_missing
    build build
    ctest --test-dir build --output-on-failure -j "$JOBS"
    ;;
  sanitize)
    install_missing
    build build-sanitize -DTANDRA_SANITIZE=ON -DTANDRA_BUILD_BENCH=OFF
    ctest --test-dir build-sanitize --output-on-failure -j "$JOBS"
    ;;
  bench)
    install_missing
    build build-bench -DCMAKE_BUILD_TYPE=Release -DTANDRA_BUILD_TESTS=ON
    for b in build-bench/bench/bench_*; do [ -x "$b" ] && "$b"; done
    ;;
  soak)
    install_missing
    cmake -S . -B build >/dev/null
    cmake --build build -j "$JOBS" --target soak
    shift
    exec build/tests/device/soak "$@"
    ;;
  package)
    install_missing
    build build-package -DCMAKE_BUILD_TYPE=Release -DTANDRA_BUILD_TESTS=OFF -DTANDRA_BUILD_BENCH=OFF
    (cd build-package && cpack -G DEB)
    ls build-package/*.deb
    ;;
  mutants)
    install_missing
    python3 tests/mutants/run-mutants.py
    ;;
  *)
    sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'
    exit 1
    ;;
esac
