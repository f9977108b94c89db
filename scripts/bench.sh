#!/usr/bin/env bash
# Builds and runs the benchmark programs under Wine, one after the other: log calls, the cursor
# drawer, desktop-duplication frames. Each runs 5 repetitions with the benchmarks of a program
# interleaved in random order and reports the median (and mean, deviation) of each. Google Benchmark
# comes from Debian's source package (fetched with apt's own downloader and checked against its
# published hash).
#   usage: scripts/bench.sh [extra Google Benchmark flags, e.g. --benchmark_filter=Capturer_Frame]
# A program none of whose benchmarks match the filter prints Google Benchmark's "Failed to match".
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export ZYR_BUILD_DIR="${ZYR_BUILD_DIR:-$root/build}"
mkdir -p "$ZYR_BUILD_DIR"
scripts/deps.sh

src="$ZYR_BUILD_DIR/benchmark-1.7.1"
if [ ! -f "$src/CMakeLists.txt" ]; then
  mirror=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -1)
  [ -n "$mirror" ] || mirror=$(awk '/^deb /{print $2; exit}' /etc/apt/sources.list)
  /usr/lib/apt/apt-helper download-file \
    "${mirror%/}/pool/main/b/benchmark/benchmark_1.7.1.orig.tar.gz" "$ZYR_BUILD_DIR/benchmark.tar.gz" \
    SHA256:6430e4092653380d9dc4ccb45a1e2dc9259d581f4866dc0759713126056bc1d7
  tar -C "$ZYR_BUILD_DIR" -xzf "$ZYR_BUILD_DIR/benchmark.tar.gz"
fi

cmake -S . -B "$ZYR_BUILD_DIR/w64-bench" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DZYR_BUILD_TESTS=OFF -DZYR_BUILD_BENCHMARKS=ON \
  -DZYR_BENCHMARK_SOURCE_DIR="$src" \
  -DZYR_BUILD_WINEPREFIX="$ZYR_BUILD_DIR/wineprefix-build" >/dev/null
ninja -C "$ZYR_BUILD_DIR/w64-bench" log_bench cursor_bench duplication_bench

. scripts/wine-env.sh
for program in log_bench cursor_bench duplication_bench; do
  echo "== $program"
  wine "$ZYR_BUILD_DIR/w64-bench/bench/$program.exe" --benchmark_repetitions=5 \
    --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true "$@"
done
