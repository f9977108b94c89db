#!/usr/bin/env bash
# The main job: runs the capturer under the reference host on a virtual display, with the log
# server printing every line the capturer logs (level 2), and reports the capturer's exit code.
#   usage: scripts/run.sh [extra ZYRRefHost options, e.g. --run-ms 3000 --stop end-host]
# The log also lands in build/run/capturer.log (text) and build/run/capturer.jsonl is not kept.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export ZYR_BUILD_DIR="${ZYR_BUILD_DIR:-$root/build}"
mkdir -p "$ZYR_BUILD_DIR/run"
scripts/deps.sh

cmake -S . -B "$ZYR_BUILD_DIR/w64-run" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZYR_BUILD_TESTS=OFF >/dev/null
ninja -C "$ZYR_BUILD_DIR/w64-run" ZYRFullscreenCapturer ZYRLogServer ZYRRefHost

. scripts/wine-env.sh

bin="$ZYR_BUILD_DIR/w64-run"
winpath() { echo "Z:$(echo "$1" | tr '/' '\\')"; }
capturer=$(winpath "$bin/src/ZYRFullscreenCapturer.exe")
log="$ZYR_BUILD_DIR/run/capturer.log"
: >"$log"

wine "$bin/tools/logserver/ZYRLogServer.exe" --prefix "$(winpath "$bin/src/")" --name zyr --level 2 \
  --ready-event zyr-run-ready --quit-event zyr-run-quit --out "$(winpath "$log")" &
server=$!
tail -f "$log" &
tailer=$!

set +e
wine "$bin/tools/refhost/ZYRRefHost.exe" --capturer "$capturer" --wait-event zyr-run-ready \
  --signal-event zyr-run-quit --run-ms 2000 "$@"
host_status=$?
set -e
wait "$server" || true
kill "$tailer" 2>/dev/null || true
wait "$tailer" 2>/dev/null || true
echo "run: reference host exited $host_status; capturer log in $log ($(wc -l <"$log") lines)"
exit "$host_status"
