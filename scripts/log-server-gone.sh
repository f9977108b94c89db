#!/usr/bin/env bash
# The log server lost in the middle of a capture: what it costs the capturer and what still arrives.
# Each round runs three captures of the same pipelined GDI frames, in an order that rotates from
# round to round:
#   live  - a log server (level 0: every line) for the whole run;
#   gone  - the same server killed (SIGKILL to its Wine process) a few seconds into the capture,
#           while frames flow, and a new one started two seconds later;
#   none  - no log server at all.
# It fails when the median frame rate of "gone" or "none" is more than 10 % below that of "live",
# when a capturer does not exit with 0, or when a restarted server did not receive the capturer's
# stop lines, which are written after the restart. With fewer than 3 rounds (the short form of
# scripts/test.sh) the rates are printed, not judged: one round swings by a fifth and more here.
#   usage: scripts/log-server-gone.sh [rounds] [frames]      (default 3 rounds of 3000 frames)
# Logs and host outputs: $ZYR_BUILD_DIR/log-server-gone/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export ZYR_BUILD_DIR="${ZYR_BUILD_DIR:-$root/build}"
rounds="${1:-3}"
frames="${2:-3000}"
out="$ZYR_BUILD_DIR/log-server-gone"
rm -rf "$out"
mkdir -p "$out"
scripts/deps.sh

# shellcheck source=tools-build.sh
. scripts/tools-build.sh
bin="${ZYR_LOGGONE_BIN:-$ZYR_BUILD_DIR/w64-run}"
zyr_tools_build "$bin" Release ZYRFullscreenCapturer fullscreenoverlay ZYRLogServer ZYRRefHost ZYRScene ZYRSceneCtl

. scripts/wine-env.sh
names="zyr-loggone-$$"
harness=log-server-gone
# shellcheck source=harness-session.sh
. scripts/harness-session.sh

# The Linux process of the running log server (Wine's, whose first argument names the exe).
server_linux_pid() {
  local p found=""
  for p in $(pgrep -f ZYRLogServer.exe || true); do
    case "$(tr '\0' '\n' </proc/"$p"/cmdline 2>/dev/null | sed -n 1p)" in *ZYRLogServer.exe) found=$p ;; esac
  done
  echo "$found"
}

failures=0
# run_capture <mode> <round>: prints "<mode> round=<r> fps=<x> exit=<n> [...]" and records the fps.
run_capture() {
  local mode=$1 round=$2 tag="$1-$2"
  local host_out="$out/$tag.host" log_a="$out/$tag.log" log_b="$out/$tag.after-restart.log"
  [ "$mode" = none ] || zyr_start_log_server "$tag-a" "$log_a" wait
  wine "$bin/tools/refhost/ZYRRefHost.exe" --capturer "$(winpath "$bin/src/ZYRFullscreenCapturer.exe")" \
    --method 1 --pipeline --frames "$frames" >"$host_out" 2>&1 &
  local host_pid=$!
  local note=""
  if [ "$mode" = gone ]; then
    # Frames flow from about 2.2 s (the warm-up) on: the server dies at 4 s, a new one comes at 6 s.
    sleep 4
    local linux_pid
    linux_pid=$(server_linux_pid)
    [ -n "$linux_pid" ] && kill -9 "$linux_pid"
    wait "$zyr_server_pid" 2>/dev/null || true
    zyr_server_pid=""
    sleep 2
    kill -0 "$host_pid" 2>/dev/null || note=" (the capture ended before the restart: use more frames)"
    zyr_start_log_server "$tag-b" "$log_b" wait
  fi
  local host_status=0
  wait "$host_pid" || host_status=$?
  zyr_stop_log_server
  local fps exit_code
  fps=$(sed -n 's/.*stats frames=[0-9]* fps=\([0-9.]*\).*/\1/p' "$host_out" | tr -d '\r')
  exit_code=$(sed -n 's/^exit-code \(-\?[0-9]*\).*/\1/p' "$host_out" | tr -d '\r')
  local verdict=ok
  if [ "$host_status" -ne 0 ] || [ "$exit_code" != 0 ] || [ -z "$fps" ]; then
    verdict="FAIL (host exit $host_status, capturer exit-code '${exit_code}')"
  elif [ "$mode" = gone ]; then
    local before after
    before=$(grep -c . "$log_a" || true)
    after=$(grep -c . "$log_b" || true)
    if ! grep -q 'TZYRFullscreenCapturer::Run exit with 0' "$log_b"; then
      verdict="FAIL (the restarted server did not receive the stop lines)"
    fi
    note="$note lines_before_kill=$before lines_after_restart=$after"
  fi
  [ "$verdict" = ok ] || failures=$((failures + 1))
  echo "$mode round=$round fps=${fps:-0} exit-code ${exit_code:-none} $verdict$note" | tee -a "$out/runs.txt"
}

modes=(live gone none)
for round in $(seq 1 "$rounds"); do
  for k in 0 1 2; do
    run_capture "${modes[$(( (round - 1 + k) % 3 ))]}" "$round"
  done
done

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) print 0; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
live=$(awk '$1 == "live" { sub("fps=", "", $3); print $3 }' "$out/runs.txt" | median)
gone=$(awk '$1 == "gone" { sub("fps=", "", $3); print $3 }' "$out/runs.txt" | median)
none=$(awk '$1 == "none" { sub("fps=", "", $3); print $3 }' "$out/runs.txt" | median)
judge_rate=$(( rounds >= 3 ? 1 : 0 ))
summary=$(awk -v l="$live" -v g="$gone" -v n="$none" -v judge="$judge_rate" 'BEGIN {
  ok = (l > 0 && (!judge || (g >= 0.9 * l && n >= 0.9 * l))) ? "pass" : "fail"
  printf "log-server-gone %s median_fps live=%.1f gone=%.1f (%.2f) none=%.1f (%.2f)", ok, l, g, (l > 0 ? g / l : 0), n, (l > 0 ? n / l : 0) }')
[ "$judge_rate" -eq 1 ] || summary="$summary (rates not judged: fewer than 3 rounds)"
echo "$summary" | tee -a "$out/runs.txt"
case "$summary" in *" pass "*) ;; *) failures=$((failures + 1)) ;; esac
[ "$failures" -eq 0 ]
