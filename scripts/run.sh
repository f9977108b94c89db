#!/usr/bin/env bash
# The main job: captures the virtual display through the reference host and writes the frames.
# Builds the capturer and the tools, starts a private Xvfb (1920x1080) with ZYRScene's pattern on
# it and the pointer over it at (960, 540), a log server for the capturer's folder and the reference
# host, which starts the capturer (GDI, whole screen, 1:1, with the mouse cursor: the host publishes
# its colour test cursor), requests ZYR_FRAMES frames (default 30) slot by slot, writes them as PNG
# files and prints a statistics line; then everything is stopped again.
#   usage: scripts/run.sh [extra ZYRRefHost options, e.g. --no-mirror --size 1280,720 --pipeline]
# ZYR_METHOD=0 captures with desktop duplication (method 0) instead of GDI. Wine has no desktop
# duplication, so this runs the capturer's test variant, ZYRFullscreenCapturerTestDup.exe: the same
# program whose one DuplicateOutput call is answered by a stand-in that grabs the screen with GDI and
# reports what changed as dirty rectangles. Everything after that call is the real method-0 path.
# ZYR_WEBCAM=M (implies ZYR_METHOD=0) also has the host feed a webcam test picture, composited by the
# capturer on the GPU with the webcam shader's parameter M (e.g. 0.5: half opacity; 12: soft edge).
# ZYR_ROTATION=2|3|4 (implies ZYR_METHOD=0) has the test variant present the display rotated by 90,
# 180 or 270 degrees, so the engine's rotation pass turns the screen's frames upright; GDI still sees
# the display unrotated, so the capture is the 1080 x 1080 square both agree on.
# Frames: build/run/frames/frame_NNNN.png; the capturer's log: build/run/capturer.log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export ZYR_BUILD_DIR="${ZYR_BUILD_DIR:-$root/build}"
frames="${ZYR_FRAMES:-30}"
method="${ZYR_METHOD:-1}"
webcam=()
if [ -n "${ZYR_WEBCAM:-}" ]; then
  method=0
  webcam=(--webcam "$ZYR_WEBCAM")
fi
region=()
if [ -n "${ZYR_ROTATION:-}" ]; then
  method=0
  export ZYRTestDupRotation="$ZYR_ROTATION"
  region=(--region 0,0,1080,1080)
fi
case "$method" in
  1) capturer=ZYRFullscreenCapturer ;;
  0) capturer=ZYRFullscreenCapturerTestDup ;;
  *) echo "run: ZYR_METHOD must be 0 (desktop duplication, test variant) or 1 (GDI)" >&2; exit 2 ;;
esac
out="$ZYR_BUILD_DIR/run"
mkdir -p "$out"
scripts/deps.sh

# shellcheck source=tools-build.sh
. scripts/tools-build.sh
bin="$ZYR_BUILD_DIR/w64-run"
zyr_tools_build "$bin" Release "$capturer" fullscreenoverlay ZYRLogServer ZYRRefHost ZYRScene ZYRSceneCtl

. scripts/wine-env.sh

names="zyr-run-$$"
harness=run
log="$out/capturer.log"
rm -rf "$out/frames"
: >"$log"
# shellcheck source=harness-session.sh
. scripts/harness-session.sh
zyr_start_log_server log "$log"

set +e
wine "$bin/tools/refhost/ZYRRefHost.exe" --capturer "$(winpath "$bin/src/$capturer.exe")" \
  --wait-event "$names-log-ready" --method "$method" "${webcam[@]}" "${region[@]}" --cursor-picture colour --frames "$frames" --png-dir "$(winpath "$out/frames")" "$@"
host_status=$?
set -e
# The log is whole once the server has drained the ring and ended.
zyr_stop_log_server
count=$(find "$out/frames" -name 'frame_*.png' 2>/dev/null | wc -l)
echo "run: method $method ($capturer.exe); reference host exited $host_status; $count PNG frames in $out/frames;" \
  "capturer log in $log ($(wc -l <"$log") lines, $(awk '$5 == 2' "$log" | wc -l) with type 2 = error)"
exit "$host_status"
