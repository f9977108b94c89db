#!/usr/bin/env bash
# Builds all three configurations and runs every test: native suites under ASan/UBSan with brief
# fuzzing runs, the Windows suites and end-to-end tests under Wine, checks of the shipped 32-bit and
# 64-bit executables (among them: both carry the same compiled shaders), and short forms of the
# harnesses (soak, host death, hostile host, lost log server). Installs what it needs; exits
# non-zero on any failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export ZYR_BUILD_DIR="${ZYR_BUILD_DIR:-$root/build}"
mkdir -p "$ZYR_BUILD_DIR"

scripts/deps.sh

echo "== native (clang, ASan + UBSan, libFuzzer)"
CC=clang CXX=clang++ cmake -S . -B "$ZYR_BUILD_DIR/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
ninja -C "$ZYR_BUILD_DIR/native"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$ZYR_BUILD_DIR/native" --output-on-failure

# The Windows builds run their shader compiler in one Wine prefix of their own (not the test prefix).
build_prefix=-DZYR_BUILD_WINEPREFIX="$ZYR_BUILD_DIR/wineprefix-build"

echo "== Windows 32-bit (MinGW i686, compile only: 32-bit code cannot run here)"
cmake -S . -B "$ZYR_BUILD_DIR/w32" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZYR_BUILD_TESTS=OFF "$build_prefix" >/dev/null
ninja -C "$ZYR_BUILD_DIR/w32"

echo "== Windows 64-bit (MinGW x86_64)"
cmake -S . -B "$ZYR_BUILD_DIR/w64" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo "$build_prefix" >/dev/null
ninja -C "$ZYR_BUILD_DIR/w64"

scripts/check-exe.sh "$ZYR_BUILD_DIR/w32/src/ZYRFullscreenCapturer.exe" i386
scripts/check-exe.sh "$ZYR_BUILD_DIR/w64/src/ZYRFullscreenCapturer.exe" x86-64
scripts/check-exe.sh "$ZYR_BUILD_DIR/w32/src/ZYRFullscreenCapturerTestDup.exe" i386
scripts/check-exe.sh "$ZYR_BUILD_DIR/w64/src/ZYRFullscreenCapturerTestDup.exe" x86-64
scripts/check-shaders.sh "$ZYR_BUILD_DIR/w32/src/ZYRFullscreenCapturer.exe" \
  "$ZYR_BUILD_DIR/w64/src/ZYRFullscreenCapturer.exe"

echo "== Windows suites under Wine"
# shellcheck source=wine-env.sh
. scripts/wine-env.sh
ctest --test-dir "$ZYR_BUILD_DIR/w64" --output-on-failure
# The suites' Wine session ends here: each harness starts its own (and ends it).
zyr_wine_cleanup
trap - EXIT

echo "== harnesses, short forms (docs/hardening.md has the full runs)"
w64="$ZYR_BUILD_DIR/w64"
ZYR_SOAK_BIN="$w64" scripts/soak.sh 3
ZYR_HOSTDEATH_BIN="$w64" scripts/host-death.sh 8
ZYR_HOSTILE_BIN="$w64" scripts/hostile-host.sh 2 15
ZYR_LOGGONE_BIN="$w64" scripts/log-server-gone.sh 1 2000
echo "== all tests passed"
