#!/usr/bin/env bash
# Host death: the host killed at random moments, and the time until the capturer and the overlay
# program it started are gone (bound: 600 ms).
#   usage: scripts/host-death.sh [runs]      (default 100)
# Each run's host is ZYRHostDeath.exe in its host mode: a real host from the reference host's library
# (section, header, every named object, the cursor publisher with the cursor drawn, with method 0 the
# webcam producer and chroma keying), which starts the capturer, requests frames pipelined and ends
# itself with TerminateProcess during the warm-up, mid-frame, while it holds one of the four overlay
# access mutexes or the cursor mutex, or during the capturer's re-map. Moments cycle run by run; the
# method alternates between 1 (ZYRFullscreenCapturer.exe) and 0 (ZYRFullscreenCapturerTestDup.exe,
# see README); delays come from ZYR_SEED (default 1). The watcher prints one line per run and a
# summary; then every run's part of the capturer's log, as the log server saw it, must end with the
# capturer's stop lines. Exit status non-zero on any failure.
# Output: build/host-death/runs.txt, build/host-death/capturer.log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export ZYR_BUILD_DIR="${ZYR_BUILD_DIR:-$root/build}"
runs="${1:-100}"
seed="${ZYR_SEED:-1}"
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "host-death: runs must be a positive number" >&2; exit 2; }
[[ "$seed" =~ ^[0-9]+$ ]] || { echo "host-death: ZYR_SEED must be a number" >&2; exit 2; }
out="$ZYR_BUILD_DIR/host-death"
mkdir -p "$out"
scripts/deps.sh

# ZYR_HOSTDEATH_BIN names a 64-bit build directory that is already configured (e.g. build/w64 after
# scripts/test.sh), so nothing is built twice; by default the script has a directory of its own.
# shellcheck source=tools-build.sh
. scripts/tools-build.sh
bin="${ZYR_HOSTDEATH_BIN:-$ZYR_BUILD_DIR/w64-hostdeath}"
zyr_tools_build "$bin" Release ZYRFullscreenCapturer ZYRFullscreenCapturerTestDup fullscreenoverlay ZYRLogServer \
  ZYRScene ZYRSceneCtl ZYRHostDeath

. scripts/wine-env.sh
names="zyr-hostdeath-$$"
harness=host-death
log="$out/capturer.log"
report="$out/runs.txt"
: >"$log"
: >"$report"
# shellcheck source=harness-session.sh
. scripts/harness-session.sh
zyr_start_log_server log "$log" wait

set +e
wine "$bin/tools/hostdeath/ZYRHostDeath.exe" watch --capturer-dir "$(winpath "$bin/src/")" --runs "$runs" \
  --seed "$seed" | tr -d '\r' | tee "$report"
watch_status=${PIPESTATUS[0]}
set -e
# Everything the capturers logged is in the file once the server has drained its ring and ended.
zyr_stop_log_server

# Each run's part of the log: from its capturer's first line (the main thread's announcement) to
# the next capturer's. It must hold the stop after the host's death, in this order, and end with the
# application object's last line; the capture thread's end comes before the join returns. The stop's
# reason is the host's end, or the capture-frame-instance mutex vanishing with the host's handles
# (the system closes those a moment before the host's process counts as ended).
set +e
awk '
  BEGIN {
    want[1] = "TZYRFullscreenCapturer::IsHostProcessAlive the host process is not alive"
    want[2] = "TZYRFullscreenCapturer::CaptureScreenThreadDeleter terminate capture screen thread"
    want[3] = "TZYRFullscreenCapturer::CaptureScreenThreadDeleter exit"
    want[4] = "TZYRFullscreenCapturer::Run exit with 0"
    want[5] = "WinMain exit with 0"
    want[6] = "TZYRFullscreenCapturer::~TZYRFullscreenCapturer exit"
    wanted = 6
    instance_gone = "TZYRFullscreenCapturer::IsCaptureFrameInstanceAlive the capture frame instance doesn'"'"'t exist anymore"
    # A capture thread stuck in a platform call longer than the stop waits for it: the process
    # ends without it, and the lines of the main thread end with the reason and the exit line.
    bounded = "TZYRFullscreenCapturer::CaptureScreenThreadDeleter the capture thread did not end within 400 ms: the process ends without it"
  }
  FNR == NR {
    if ($1 == "run" && match($0, /capturer_pid=[0-9]+/)) {
      n++; run[n] = $2; pid[n] = substr($0, RSTART + 13, RLENGTH - 13)
    }
    next
  }
  {
    text = $0; sub(/^[^ ]+ [^ ]+ [^ ]+ [^ ]+ [^ ]+ /, "", text)
    if ($5 == "6" && text == "WinMain") {
      for (j = cur + 1; j <= n; j++) if (pid[j] == $2) { cur = j; seen[j] = 1; break }
    }
    if (cur == 0 || $2 != pid[cur]) next
    last[cur] = text
    # The lines of the main thread: in a run that ended without its capture thread, that thread
    # may still have logged after the last line of the main thread, until the process ended.
    if (text == want[2]) main_tid[cur] = $4
    if ($4 == main_tid[cur]) last_main[cur] = text
    if (got[cur] == 0 && text == instance_gone) got[cur]++
    if (got[cur] == 2 && text == bounded) { cut[cur] = 1; got[cur] = 3 }
    if (got[cur] < wanted && text == want[got[cur] + 1]) got[cur]++
    if (text == "TZYRFullscreenCapturer::CaptureScreenThread exit" && got[cur] < 3) thread[cur] = 1
  }
  END {
    for (k = 1; k <= n; k++) {
      problem = ""
      if (!seen[k]) problem = "no lines of the capturer"
      else if (cut[k]) {
        if (got[k] < 4) problem = "missing \"" want[got[k] + 1] "\""
        else if (last_main[k] != want[4]) problem = "last line of the main thread \"" last_main[k] "\""
        else without++
      }
      else if (got[k] < wanted) problem = "missing \"" want[got[k] + 1] "\""
      else if (!thread[k]) problem = "no capture thread exit before the join returned"
      else if (last[k] != want[wanted]) problem = "last line \"" last[k] "\""
      if (problem != "") { bad++; printf "log run %s (capturer %s): %s\n", run[k], pid[k], problem }
    }
    printf "log: %d/%d runs end with the capturer'"'"'s stop lines (%d of them ended without waiting for a stalled capture thread)\n", n - bad, n, without
    exit (bad > 0 || n == 0) ? 1 : 0
  }' "$report" "$log"
log_status=$?
set -e
echo "host-death: runs in $report, the capturers' log in $log"
if [ "$watch_status" -ne 0 ] || [ "$log_status" -ne 0 ]; then
  exit 1
fi
