#!/usr/bin/env bash
# Frames per second of GDI screen capture at 1920x1080 under Wine, three ways in one run, over the
# same screen (ZYRScene's smooth pattern):
#   (a) the platform limit: ZYRBlitLoopBench, a bare second-thread loop of display DC + BitBlt +
#       row copy, for about 10 s;
#   (b) the capturer as the host sees it: ZYRRefHost --method 1 --frames 600 --pipeline, the frames
#       per second it receives at 1:1, and the capturer's CPU time per frame;
#   (c) a peer: ffmpeg's gdigrab (scripts/fetch-ffmpeg.sh), 120 frames;
#   (d) desktop duplication (method 0) beside GDI (method 1) over a screen that changes every
#       33 ms (ZYRScene --animate 33): the reference host, pipelined, 300 frames, alternating the
#       two methods for ZYR_BENCH_ROUNDS rounds (default 3), median frames per second of each.
#       Wine has no desktop duplication: method 0 runs in the test variant
#       ZYRFullscreenCapturerTestDup.exe, whose stand-in grabs the screen with GDI (its cost per
#       grab is printed from its log line).
# Prints the rates, the ratios (b)/(a), (b)/(c) and (d) method 0 / method 1, and a last
# machine-readable line
#   bench_frames blit_loop_fps=<x> capturer_fps=<x|n/a> ffmpeg_fps=<x|n/a> capturer_vs_limit=<x|n/a>
#                capturer_vs_ffmpeg=<x|n/a> capturer_cpu_ms_per_frame=<x|n/a> capturer_ms_outside_blt=<x|n/a>
#                animated_gdi_fps=<x|n/a> animated_dup_fps=<x|n/a> dup_vs_gdi=<x|n/a>
# Exit code: 0 when (a) was measured, non-zero otherwise. A missing (b) or (c) is reported, not fatal.
#   usage: scripts/bench-frames.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export ZYR_BUILD_DIR="${ZYR_BUILD_DIR:-$root/build}"
mkdir -p "$ZYR_BUILD_DIR"
scripts/deps.sh
scripts/fetch-ffmpeg.sh

# shellcheck source=tools-build.sh
. scripts/tools-build.sh
bin="$ZYR_BUILD_DIR/w64-bench-frames"
zyr_tools_build "$bin" Release ZYRScene ZYRSceneCtl ZYRBlitLoopBench ZYRRefHost ZYRFullscreenCapturer \
  ZYRFullscreenCapturerTestDup fullscreenoverlay ZYRLogServer

# shellcheck source=wine-env.sh
. scripts/wine-env.sh

winpath() { echo "Z:$(echo "$1" | tr '/' '\\')"; }
scene_exe="$bin/tools/scene/ZYRScene.exe"
ctl_exe="$bin/tools/scene/ZYRSceneCtl.exe"
names="zyr-bench-frames-$$"
scene_pid=""

# Ends the scene (quit event, then a bounded wait for its end), then the Wine environment.
stop_scene() {
  [ -n "$scene_pid" ] || return 0
  wine "$ctl_exe" set "$names-quit" >/dev/null 2>&1 || true
  for _ in $(seq 1 300); do
    kill -0 "$scene_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$scene_pid" 2>/dev/null || true
  wait "$scene_pid" 2>/dev/null || true
  scene_pid=""
}
trap 'stop_scene; zyr_wine_cleanup' EXIT

# Shows the smooth pattern (extra arguments go to the scene) and waits for its first paint.
start_scene() {
  wine "$scene_exe" --pattern smooth --ready-event "$names-ready" --quit-event "$names-quit" "$@" &
  scene_pid=$!
  # The first window of a fresh Wine session waits for the desktop process: a generous bound.
  if ! wine "$ctl_exe" wait "$names-ready" 120000; then
    echo "bench-frames: the scene did not show its pattern" >&2
    exit 1
  fi
}
start_scene

# The value of key=<value> in a line of text ("" when absent).
field() { sed -n "s/.*[[:space:]]$1=\([^[:space:]]*\).*/\1/p" | tail -1; }
# a / b with two decimals, or n/a when either is missing or b is zero.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b + 0 == 0) print "n/a"; else printf "%.2f\n", a / b }'; }

echo "== (a) platform limit: ZYRBlitLoopBench, 1920x1080, 10 s"
blit_line=$(wine "$bin/tools/bench/ZYRBlitLoopBench.exe" --size 1920x1080 --seconds 10)
echo "$blit_line"
blit_fps=$(echo " $blit_line" | field fps)
[ -n "$blit_fps" ] || { echo "bench-frames: no fps from the blit loop" >&2; exit 1; }

echo "== (b) capturer through the reference host: GDI, 600 frames, pipelined, 1:1"
# A log server for the capturer's folder receives its summary lines: time per frame from the
# request to the ready flag, and the part of it spent in the display transfer (BitBlt).
caplog="$ZYR_BUILD_DIR/bench-frames-capturer.log"
: >"$caplog"
wine "$bin/tools/logserver/ZYRLogServer.exe" --prefix "$(winpath "$bin/src/")" --name zyr --level 0 \
  --ready-event "$names-log-ready" --quit-event "$names-log-quit" --out "$(winpath "$caplog")" &
server_pid=$!
set +e
host_out=$(wine "$bin/tools/refhost/ZYRRefHost.exe" --capturer "$(winpath "$bin/src/ZYRFullscreenCapturer.exe")" \
  --wait-event "$names-log-ready" --method 1 --frames 600 --pipeline 2>&1)
host_status=$?
set -e
wine "$ctl_exe" set "$names-log-quit" >/dev/null 2>&1 || true
wait "$server_pid" 2>/dev/null || true
echo "$host_out"
capturer_fps=""
capturer_cpu=""
outside_blt=""
stats=$(echo "$host_out" | grep '^stats ' | tail -1 || true)
if [ -n "$stats" ]; then
  capturer_fps=$(echo " $stats" | field fps)
  frames=$(echo " $stats" | field frames)
  cpu_ms=$(echo " $stats" | field capturer_cpu_ms)
  capturer_cpu=$(ratio "$cpu_ms" "$frames")
else
  echo "bench-frames: the reference host printed no stats line (exit $host_status): capturer not measured"
fi
frame_line=$(grep 'frames published, ' "$caplog" | tail -1 || true)
transfer_line=$(grep 'ms in the display transfer' "$caplog" | tail -1 || true)
echo "$frame_line"
echo "$transfer_line"
frame_ms=$(echo "$frame_line" | sed -n 's/.*published, \([0-9.]*\) ms per frame.*/\1/p')
transfer_ms=$(echo "$transfer_line" | sed -n 's/.*per frame: \([0-9.]*\) ms in the display transfer.*/\1/p')
if [ -n "$frame_ms" ] && [ -n "$transfer_ms" ]; then
  outside_blt=$(awk -v a="$frame_ms" -v b="$transfer_ms" 'BEGIN { printf "%.2f\n", a - b }')
fi

echo "== (c) peer: ffmpeg gdigrab, 120 frames"
set +e
ffmpeg_out=$(wine "$ZYR_BUILD_DIR/ffmpeg/ffmpeg.exe" -hide_banner -nostdin -f gdigrab -framerate 200 -i desktop \
  -frames:v 120 -f null - 2>&1 | tr '\r' '\n')
set -e
# ffmpeg's last progress line: "frame=  120 fps=8.9 q=-0.0 Lsize=N/A time=..."
ffmpeg_line=$(echo "$ffmpeg_out" | grep '^frame=' | tail -1 || true)
echo "$ffmpeg_line"
ffmpeg_fps=$(echo "$ffmpeg_line" | sed -n 's/.*fps= *\([0-9.]*\).*/\1/p')
if [ -z "$ffmpeg_fps" ]; then
  echo "bench-frames: no fps from ffmpeg:"
  echo "$ffmpeg_out" | tail -5
fi

echo "== (d) method 0 (test variant) beside method 1 (GDI), screen changing every 33 ms, pipelined, 300 frames"
stop_scene
start_scene --animate 33
rounds="${ZYR_BENCH_ROUNDS:-3}"
duplog="$ZYR_BUILD_DIR/bench-frames-dup.log"
: >"$duplog"
gdi_rates=""
dup_rates=""
# Frames per second of one pipelined run of `exe` with `method` ("" when the host printed no stats).
animated_run() {
  local exe=$1 method=$2 out line
  : >"$duplog.part"
  wine "$bin/tools/logserver/ZYRLogServer.exe" --prefix "$(winpath "$bin/src/")" --name zyr --level 0 \
    --ready-event "$names-log-ready" --quit-event "$names-log-quit" --out "$(winpath "$duplog.part")" &
  local log_pid=$!
  out=$(wine "$bin/tools/refhost/ZYRRefHost.exe" --capturer "$(winpath "$bin/src/$exe")" \
    --wait-event "$names-log-ready" --method "$method" --frames 300 --pipeline 2>&1 || true)
  wine "$ctl_exe" set "$names-log-quit" >/dev/null 2>&1 || true
  wait "$log_pid" 2>/dev/null || true
  cat "$duplog.part" >>"$duplog" 2>/dev/null || true
  line=$(echo "$out" | grep '^stats ' | tail -1 || true)
  echo "method $method: ${line:-no stats line}" >&2
  echo " $line" | field fps
}
for round in $(seq 1 "$rounds"); do
  echo "round $round"
  gdi_rates="$gdi_rates $(animated_run ZYRFullscreenCapturer.exe 1)"
  dup_rates="$dup_rates $(animated_run ZYRFullscreenCapturerTestDup.exe 0)"
done
median() { echo "$@" | tr ' ' '\n' | grep -v '^$' | sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print ""; else if (NR % 2) print v[(NR + 1) / 2]; else printf "%.2f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
animated_gdi=$(median $gdi_rates)
animated_dup=$(median $dup_rates)
echo "method 1 rates:$gdi_rates; method 0 rates:$dup_rates"
grep 'TScreenOutputDuplication [0-9]* grabs' "$duplog" | tail -1 || true

stop_scene

or_na() { if [ -n "$1" ]; then echo "$1"; else echo "n/a"; fi; }
echo "== results (1920x1080, Wine)"
echo "platform limit (blit loop):        $blit_fps frames/s"
echo "capturer via the reference host:   $(or_na "$capturer_fps") frames/s, $(or_na "$capturer_cpu") ms CPU per frame"
echo "capturer per frame outside BitBlt:  $(or_na "$outside_blt") ms (request to ready flag minus the transfer; the 1 ms sleep excluded)"
echo "ffmpeg gdigrab:                    $(or_na "$ffmpeg_fps") frames/s"
echo "capturer / platform limit:         $(ratio "$capturer_fps" "$blit_fps")"
echo "capturer / ffmpeg:                 $(ratio "$capturer_fps" "$ffmpeg_fps")"
echo "screen changing every 33 ms, median of $rounds rounds:"
echo "  method 1 (GDI):                  $(or_na "$animated_gdi") frames/s"
echo "  method 0 (test variant):         $(or_na "$animated_dup") frames/s"
echo "  method 0 / method 1:             $(ratio "$animated_dup" "$animated_gdi")"
echo "bench_frames blit_loop_fps=$blit_fps capturer_fps=$(or_na "$capturer_fps") ffmpeg_fps=$(or_na "$ffmpeg_fps")" \
  "capturer_vs_limit=$(ratio "$capturer_fps" "$blit_fps") capturer_vs_ffmpeg=$(ratio "$capturer_fps" "$ffmpeg_fps")" \
  "capturer_cpu_ms_per_frame=$(or_na "$capturer_cpu") capturer_ms_outside_blt=$(or_na "$outside_blt")" \
  "animated_gdi_fps=$(or_na "$animated_gdi") animated_dup_fps=$(or_na "$animated_dup")" \
  "dup_vs_gdi=$(ratio "$animated_dup" "$animated_gdi")"
