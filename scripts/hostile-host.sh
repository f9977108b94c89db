#!/usr/bin/env bash
# The hostile host: for each seed the reference host starts the capturer, keeps all six slots
# requested and rewrites the header fields the capturer reads at random (ZYRRefHost --hostile, see
# tools/refhost/README.md), then stops it with the uninstall event. Per seed it checks:
#   - the reference host exited 0 and the capturer's exit code is 0;
#   - Wine's standard error holds no crash report (unhandled exception, page fault, backtrace);
#   - the capturer ended within 600 ms of the uninstall signal;
#   - the capturer still served frames in the calm last seconds, or its capture thread ended and its
#     log has a warning or error line that names a value the host wrote into a start-up field.
# One line per seed, a summary, and a non-zero exit on any failure.
#   usage: scripts/hostile-host.sh [seeds] [seconds]     (default 20 seeds x 60 s)
#     seeds: N (seeds 1..N) or a comma list (7,42); ZYR_HOSTILE_RANDOM=1 draws N random seeds.
#     ZYR_HOSTILE_METHOD=alt|0|1 (default alt: odd seeds GDI with ZYRFullscreenCapturer.exe, even
#     seeds method 0 with the test variant ZYRFullscreenCapturerTestDup.exe and a composited,
#     chroma-keyed webcam). Wine has no desktop duplication; see README.md on the test variant.
# Output per seed (host lines, Wine's stderr, the capturer's log at level 0) in
# $ZYR_BUILD_DIR/hostile/seed-<s>.{out,err,log}.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export ZYR_BUILD_DIR="${ZYR_BUILD_DIR:-$root/build}"
seeds_arg="${1:-20}"
seconds="${2:-60}"
method_choice="${ZYR_HOSTILE_METHOD:-alt}"
max_stop_ms=600
case "$method_choice" in alt|0|1) ;; *) echo "hostile: ZYR_HOSTILE_METHOD must be alt, 0 or 1" >&2; exit 2 ;; esac
[[ "$seconds" =~ ^[0-9]+$ ]] && [ "$seconds" -ge 5 ] || { echo "hostile: seconds must be a number >= 5" >&2; exit 2; }

if [[ "$seeds_arg" == *,* ]]; then
  IFS=, read -r -a seeds <<<"$seeds_arg"
elif [[ "$seeds_arg" =~ ^[0-9]+$ ]]; then
  seeds=()
  for i in $(seq 1 "$seeds_arg"); do
    if [ "${ZYR_HOSTILE_RANDOM:-0}" = 1 ]; then seeds+=("$(( (RANDOM << 15 | RANDOM) ))"); else seeds+=("$i"); fi
  done
else
  echo "hostile: seeds must be a count or a comma list" >&2; exit 2
fi
echo "hostile: seeds ${seeds[*]}; $seconds s each; method $method_choice"

out="$ZYR_BUILD_DIR/hostile"
mkdir -p "$out"
scripts/deps.sh

# With debug information: a crash report's backtrace then names functions and lines.
# ZYR_HOSTILE_BIN names a configured 64-bit build (e.g. build/w64 after scripts/test.sh), used as it is.
bin="${ZYR_HOSTILE_BIN:-$ZYR_BUILD_DIR/w64-hostile}"
# shellcheck source=tools-build.sh
. scripts/tools-build.sh
zyr_tools_build "$bin" RelWithDebInfo ZYRFullscreenCapturer ZYRFullscreenCapturerTestDup fullscreenoverlay \
  ZYRLogServer ZYRRefHost ZYRScene ZYRSceneCtl >/dev/null

. scripts/wine-env.sh
names="zyr-hostile-$$"
harness=hostile
# shellcheck source=harness-session.sh
. scripts/harness-session.sh

# An integer as a whole number in a line (not part of a longer number).
names_value() {
  local value="$1" file="$2"
  grep -Eq -- "(^|[^0-9.-])${value}([^0-9.]|$)" "$file"
}

# Checks one seed's files; prints the reasons it failed (nothing when it passed).
check_seed() {
  local status="$1" stdout="$2" stderr="$3" log="$4"
  local stop_line summary
  [ "$status" -eq 0 ] || echo "reference host exited $status"
  if grep -Eq 'Unhandled exception|page fault|wine: Unhandled|Backtrace:|=>[ 0-9]+ 0x' "$stderr"; then
    echo "Wine crash report: $(grep -Em1 'Unhandled|page fault|Backtrace' "$stderr")"
  fi
  stop_line=$(grep -E '^hostile stop_ms=' "$stdout" | tail -1 || true)
  summary=$(grep -E '^hostile served=' "$stdout" | tail -1 || true)
  if [ -z "$stop_line" ] || [ -z "$summary" ]; then
    echo "no hostile summary or stop line"
    return
  fi
  local stop_ms exit_code tail_served invalidated
  stop_ms=$(sed -E 's/.*stop_ms=(-?[0-9]+).*/\1/' <<<"$stop_line")
  exit_code=$(sed -E 's/.*exit-code (-?[0-9]+).*/\1/' <<<"$stop_line")
  tail_served=$(sed -E 's/.*tail_served=([0-9]+).*/\1/' <<<"$summary")
  invalidated=$(sed -E 's/.*capture_invalidated=([01]).*/\1/' <<<"$summary")
  [ "$exit_code" = 0 ] || echo "capturer exit code $exit_code"
  if [ "$stop_ms" -lt 0 ]; then
    echo "the capturer had ended before the stop"
  elif [ "$stop_ms" -gt "$max_stop_ms" ]; then
    echo "stop took $stop_ms ms (> $max_stop_ms)"
  fi
  [ "$tail_served" -gt 0 ] && return
  if [ "$invalidated" != 1 ]; then
    echo "no frames in the calm tail, and the capture thread did not end"
    return
  fi
  # The capture thread ended: one of its warnings or errors must name a value the host wrote.
  local problems="$out/problems.$$"
  # Only the texts: the time stamp, process, module and thread ids would match any small number.
  awk '$5 == 1 || $5 == 2 || $5 == 4 { $1 = $2 = $3 = $4 = $5 = ""; print }' "$log" >"$problems"
  local value
  for value in $(grep -E '^hostile startup-values' "$stdout" | cut -d' ' -f3-); do
    [ "$value" = none ] && continue
    if names_value "$value" "$problems"; then rm -f "$problems"; return; fi
  done
  rm -f "$problems"
  echo "the capture thread ended, but no warning or error line of its log names a value the host wrote"
}

failures=0
slowest=0
total_frames=0
results=()
for seed in "${seeds[@]}"; do
  method="$method_choice"
  [ "$method" = alt ] && method=$(( seed % 2 ))
  extra=(--cursor-picture colour)
  if [ "$method" = 0 ]; then
    capturer=ZYRFullscreenCapturerTestDup
    extra+=(--webcam 12 --chroma-key --webcam-fps 10)
  else
    capturer=ZYRFullscreenCapturer
  fi
  stdout="$out/seed-$seed.out"
  stderr="$out/seed-$seed.err"
  log="$out/seed-$seed.log"
  : >"$log"
  zyr_start_log_server log "$log"
  set +e
  timeout -k 10 $(( seconds + 120 )) wine "$bin/tools/refhost/ZYRRefHost.exe" \
    --capturer "$(winpath "$bin/src/$capturer.exe")" --wait-event "$names-log-ready" --method "$method" \
    "${extra[@]}" --hostile "$seed" --hostile-ms $(( seconds * 1000 )) >"$stdout" 2>"$stderr"
  status=$?
  set -e
  zyr_stop_log_server
  reasons=$(check_seed "$status" "$stdout" "$stderr" "$log")
  stop_ms=$(grep -E '^hostile stop_ms=' "$stdout" | tail -1 | sed -E 's/.*stop_ms=(-?[0-9]+).*/\1/' || true)
  frames=$(grep -E '^hostile served=' "$stdout" | tail -1 | sed -E 's/^hostile served=([0-9]+).*/\1/' || true)
  tail_served=$(grep -E '^hostile served=' "$stdout" | tail -1 | sed -E 's/.*tail_served=([0-9]+).*/\1/' || true)
  rewrites=$(grep -E '^hostile stop_ms=' "$stdout" | tail -1 | sed -E 's/.*rewrites=([0-9]+).*/\1/' || true)
  start=$(grep -E '^hostile seed=' "$stdout" | head -1 | sed -E 's/.*start=([a-z]+).*/\1/' || true)
  [ -n "${stop_ms:-}" ] && [ "$stop_ms" -gt "$slowest" ] && slowest=$stop_ms
  total_frames=$(( total_frames + ${frames:-0} ))
  line=$(printf 'seed=%-10s method=%s start=%-5s frames=%-6s tail_frames=%-4s rewrites=%-6s stop_ms=%-4s' \
    "$seed" "$method" "${start:-?}" "${frames:-?}" "${tail_served:-?}" "${rewrites:-?}" "${stop_ms:-?}")
  if [ -z "$reasons" ]; then
    line="$line PASS"
  else
    line="$line FAIL: $(tr '\n' ';' <<<"$reasons")"
    failures=$(( failures + 1 ))
  fi
  echo "$line"
  results+=("$line")
done

echo "hostile: ${#seeds[@]} seeds x $seconds s, $(( ${#seeds[@]} - failures )) passed, $failures failed;" \
  "frames served $total_frames; slowest stop $slowest ms (bound $max_stop_ms ms); files in $out"
[ "$failures" -eq 0 ]
