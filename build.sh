#!/usr/bin/env bash
# Tandra USB build helper. Each command installs only the Debian packages it needs.
#   ./build.sh run       build and start the window on the virtual programmer
#   ./build.sh test      build and run every test (a test whose tools are missing says so)
#   ./build.sh test-all  the same tests with every tool they can use (MinGW, lintian, ...), then
#                        the Windows build's tests under Wine
#   ./build.sh test-windows  the Qt-free part built for Windows (MinGW-w64), its tests under Wine
#   ./build.sh package-windows  tandra-cli-<version>-windows-x64.zip in build-windows
#   ./build.sh sanitize  the tests built with AddressSanitizer and UndefinedBehaviorSanitizer
#   ./build.sh bench     build and run the benchmarks
#   ./build.sh soak [seed] [runs]  the seeded soaks of the core and of the whole tandra-cli pipeline
#   ./build.sh package   build the Debian packages: tandra-cli, tandra-usb and their -dbgsym
#   ./build.sh mutants   apply each listed fault of the core in turn; fail if the tests miss one
#   ./build.sh fuzz [seconds]  build the loaders' fuzzers with clang and run each on its corpus
set -euo pipefail
cd "$(dirname "$0")"

# What building and running need.
RUN_PACKAGES=(build-essential cmake pkg-config qt6-base-dev libgl-dev libftdi1-dev libcli11-dev
              nlohmann-json3-dev libssl-dev zlib1g-dev)
# What the tests need beyond that.
TEST_PACKAGES=(libgtest-dev libgmock-dev umockdev srecord xxd python3-jsonschema strace)
BENCH_PACKAGES=(libbenchmark-dev)
# What building and checking the Debian package needs.
PACKAGE_PACKAGES=(file desktop-file-utils appstream lintian)
# The loaders' fuzzers: clang and its libFuzzer.
FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# The Windows build of the Qt-free part and its run under Wine (about 290 MB for MinGW-w64, as
# much again for Wine); GoogleTest is built for it from libgtest-dev's sources, the zip's manual
# made with groff. The build takes ccache where it is installed, but does not install it: its
# cache would double what the build keeps on disk.
CROSS_PACKAGES=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 libgtest-dev groff-base)
JOBS=$(nproc 2>/dev/null || echo 2)

install_missing() {  # install_missing package...
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -q
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
  # The downloaded packages are not kept: a build machine's disk holds the builds.
  $sudo apt-get clean
}

# Whether the Windows build can be made and run here; says what is missing when not.
windows_tools() {
  local missing=()
  command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || missing+=(g++-mingw-w64-x86-64-posix)
  command -v wine64 >/dev/null 2>&1 || [ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
  [ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(libgtest-dev)
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "The Windows build is skipped: ${missing[*]} not installed (./build.sh test-all installs them)"
  return 1
}

# The Windows build in build-windows: MinGW-w64, ccache where it is installed.
build_windows() {  # build_windows [target]
  local launcher=()
  command -v ccache >/dev/null 2>&1 &&
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/MinGW-w64.cmake \
    -DTANDRA_BUILD_TESTS=ON "${launcher[@]}" >/dev/null
  cmake --build build-windows -j "$JOBS" ${1:+--target "$1"}
}

build() {  # build <dir> [cmake options...]
  local dir=$1; shift
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
}

case "${1:-}" in
  run)
    install_missing "${RUN_PACKAGES[@]}"
    build build -DTANDRA_BUILD_TESTS=OFF
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
      echo "No display: the window needs an X11 or Wayland session." >&2
      echo "Run this from a desktop session, or give it a virtual one: xvfb-run -a ./build.sh run" >&2
      exit 2
    fi
    exec build/src/gui/tandra-usb --virtual
    ;;
  test)
    install_missing "${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
    build build -DTANDRA_BUILD_TESTS=ON
    ctest --test-dir build --output-on-failure -j "$JOBS"
    ;;
  test-all)
    install_missing "${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${BENCH_PACKAGES[@]}" \
      "${PACKAGE_PACKAGES[@]}" "${CROSS_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
    build build -DTANDRA_BUILD_TESTS=ON
    # The Windows build below compiles everything windows.cross-compile would, and runs it.
    ctest --test-dir build --output-on-failure -j "$JOBS" -E '^windows\.cross-compile$'
    "$0" fuzz 5  # briefly: the fuzzers build with clang, and their seeds find nothing
    exec "$0" test-windows
    ;;
  test-windows)
    windows_tools || exit 0
    build_windows
    # Each test program starts under Wine: one at a time per core keeps Wine's start-up quick.
    ctest --test-dir build-windows --output-on-failure -j "$JOBS"
    ;;
  package-windows)
    install_missing "${RUN_PACKAGES[@]}" "${CROSS_PACKAGES[@]}"
    windows_tools || exit 1
    build_windows windows-zip
    ls build-windows/tandra-cli-*-windows-x64.zip
    ctest --test-dir build-windows --output-on-failure -R '^windows\.package$'
    ;;
  sanitize)
    install_missing "${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
    build build-sanitize -DTANDRA_SANITIZE=ON -DTANDRA_BUILD_BENCH=OFF
    ctest --test-dir build-sanitize --output-on-failure -j "$JOBS"
    ;;
  bench)
    install_missing "${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${BENCH_PACKAGES[@]}"
    build build-bench -DCMAKE_BUILD_TYPE=Release -DTANDRA_BUILD_TESTS=ON
    for b in build-bench/bench/bench_*; do [ -x "$b" ] && "$b"; done
    ;;
  soak)
    install_missing "${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
    cmake -S . -B build -DTANDRA_BUILD_TESTS=ON >/dev/null
    cmake --build build -j "$JOBS" --target soak pipeline-soak
    shift
    build/tests/device/soak "$@"
    exec build/tests/cli/pipeline-soak "$@"
    ;;
  package)
    install_missing "${RUN_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
    # Optimised as the distribution builds, with the debug information the -dbgsym packages take.
    build build-package -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANDRA_BUILD_TESTS=OFF -DTANDRA_BUILD_BENCH=OFF
    rm -f build-package/*.deb build-package/*.ddeb
    (cd build-package && cpack -G DEB)
    ls build-package/*.deb build-package/*.ddeb
    ;;
  mutants)
    install_missing "${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
    python3 tests/mutants/run-mutants.py
    ;;
  fuzz)
    install_missing "${RUN_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
    seconds=${2:-60}
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -DTANDRA_FUZZ=ON -DTANDRA_BUILD_GUI=OFF \
      -DTANDRA_BUILD_TESTS=OFF -DTANDRA_BUILD_BENCH=OFF >/dev/null
    cmake --build build-fuzz -j "$JOBS" --target tandra_fuzz_text_loader tandra_fuzz_binary_loader
    # What the fuzzers find goes to a scratch folder; the seeds in fuzz/corpus stay as written.
    for loader in text:4096 binary:70000; do
      scratch=build-fuzz/fuzz/found-${loader%:*}
      mkdir -p "$scratch" build-fuzz/fuzz/artifacts
      build-fuzz/fuzz/tandra_fuzz_${loader%:*}_loader -max_total_time="$seconds" \
        -max_len="${loader#*:}" -len_control=0 -timeout=10 -print_final_stats=1 \
        -artifact_prefix=build-fuzz/fuzz/artifacts/ "$scratch" fuzz/corpus fuzz/regressions
    done
    ;;
  *)
    sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'
    exit 1
    ;;
esac
