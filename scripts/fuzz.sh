#!/usr/bin/env bash
# Runs every fuzz target of the platform-free core for a while (default 10 minutes each, one after
# another, one worker each) from the seeds in tests/fuzz/corpus, in a native clang build with
# AddressSanitizer and UndefinedBehaviorSanitizer. New inputs go to $ZYR_BUILD_DIR/fuzz/<target>/;
# a crash is written as $ZYR_BUILD_DIR/fuzz/<target>-crash-* and fails the script (keep it: replay it
# with the target's binary, turn it into a named case in tests/native, fix, and add the input to
# tests/fuzz/corpus/<corpus>/).
#   usage: scripts/fuzz.sh [minutes] [target...]     targets: log_directory log_record header_layout
# Prints one line per target: executions, coverage and corpus size as libFuzzer reports them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export ZYR_BUILD_DIR="${ZYR_BUILD_DIR:-$root/build}"
minutes="${1:-10}"
shift || true
targets=("$@")
[ "${#targets[@]}" -gt 0 ] || targets=(log_directory log_record header_layout)
seconds=$(awk -v m="$minutes" 'BEGIN { s = int(m * 60 + 0.5); if (s < 1) exit 1; print s }') ||
  { echo "fuzz: minutes must be a positive number" >&2; exit 2; }

scripts/deps.sh
bin="$ZYR_BUILD_DIR/native"
CC=clang CXX=clang++ cmake -S . -B "$bin" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
ninja -C "$bin" "${targets[@]/#/fuzz_}"

declare -A max_len=([log_directory]=20000 [log_record]=4096 [header_layout]=1024)
out="$ZYR_BUILD_DIR/fuzz"
mkdir -p "$out"
status=0
for target in "${targets[@]}"; do
  [ -n "${max_len[$target]:-}" ] || { echo "fuzz: unknown target $target" >&2; exit 2; }
  mkdir -p "$out/$target"
  log="$out/$target.log"
  set +e
  "$bin/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len="${max_len[$target]}" -print_final_stats=1 -artifact_prefix="$out/$target-" \
    "$out/$target" "tests/fuzz/corpus/$target" >"$log" 2>&1
  result=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  corpus=$(find "$out/$target" -type f | wc -l)
  if [ "$result" -eq 0 ]; then
    echo "fuzz $target: ${seconds} s, ${runs:-?} runs, coverage ${cov:-?}, corpus $corpus inputs, nothing found"
  else
    echo "fuzz $target: FOUND something after ${runs:-?} runs (exit $result); see $log and $out/$target-*"
    status=1
  fi
done
exit "$status"
