#!/usr/bin/env bash
# Soak: the capturer under a recording host's long day, its resources sampled every 10 s beside a
# baseline's: a bare loop of the platform calls of a frame (method 1: the BitBlt loop
# ZYRBlitLoopBench; method 0: the Direct3D loop ZYRD3DLoopBench). tools/soak/ZYRSoakHost.exe says
# what the host does. Fails when the capturer's
# memory grows by more than 256 KB after each session's first minute (summed over the sessions),
# when its handles rise, or when the last minute's frame rate falls more than 10 % below the first.
#   usage: scripts/soak.sh [minutes]            (default 10; fractions such as 2.5 are fine)
# ZYR_METHOD=0 runs method 0 through the test variant ZYRFullscreenCapturerTestDup.exe (README).
# ZYR_SOAK_RESTART_S (default 200) is the time between restarts with the other frame size (0: none).
# The table goes to standard output and to $ZYR_BUILD_DIR/soak/soak-<method>.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export ZYR_BUILD_DIR="${ZYR_BUILD_DIR:-$root/build}"
minutes="${1:-10}"
seconds=$(awk -v m="$minutes" 'BEGIN { s = int(m * 60 + 0.5); if (s < 1) exit 1; print s }') ||
  { echo "soak: minutes must be a positive number" >&2; exit 2; }
method="${ZYR_METHOD:-1}"
case "$method" in
  1) capturer=ZYRFullscreenCapturer baseline=ZYRBlitLoopBench ;;
  0) capturer=ZYRFullscreenCapturerTestDup baseline=ZYRD3DLoopBench ;;
  *) echo "soak: ZYR_METHOD must be 0 or 1" >&2; exit 2 ;;
esac
restart="${ZYR_SOAK_RESTART_S:-200}"
settle=60
judge_rate=1
# Short runs (CI) settle and restart sooner, so that they still judge memory and handles: three
# sessions, each settled after a sixth of the run. Their frame rates are printed, not judged: over
# windows shorter than a minute they swing by a fifth here.
if [ "$seconds" -lt 600 ]; then
  settle=$((seconds / 6))
  restart=$(( restart == 0 ? 0 : seconds / 3 + 1 ))
  judge_rate=0
fi
out="$ZYR_BUILD_DIR/soak"
mkdir -p "$out"
scripts/deps.sh

# shellcheck source=tools-build.sh
. scripts/tools-build.sh
bin="${ZYR_SOAK_BIN:-$ZYR_BUILD_DIR/w64-run}"
zyr_tools_build "$bin" Release "$capturer" fullscreenoverlay ZYRSoakHost "$baseline" ZYRScene ZYRSceneCtl

. scripts/wine-env.sh
names="zyr-soak-$$"
harness=soak
# shellcheck source=harness-session.sh
. scripts/harness-session.sh

table="$out/soak-$method.txt"
echo "soak: method $method ($capturer.exe), $seconds s, restart every $restart s, settle $settle s, frame rate judged: $judge_rate" | tee "$table"
set +e
# No log server: the capturer's log calls find none and cost nothing more (docs/architecture.md).
wine "$bin/tools/soak/ZYRSoakHost.exe" --capturer "$(winpath "$bin/src/$capturer.exe")" \
  --baseline "$(winpath "$bin/tools/bench/$baseline.exe")" --method "$method" --seconds "$seconds" \
  --restart-seconds "$restart" --settle-seconds "$settle" --judge-rate "$judge_rate" | sed -u 's/\r$//' | tee -a "$table"
status=${PIPESTATUS[0]}
set -e
echo "soak: ZYRSoakHost exited $status; table in $table"
exit "$status"
