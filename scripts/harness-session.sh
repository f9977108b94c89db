# Sourced by run.sh and the harness scripts after wine-env.sh: shows ZYRScene's pattern with the pointer over it
# (the platform then reports a cursor, so a capturer really draws one), starts and ends level-0 log
# servers for the capturer's folder, and ends both with the Wine session when the script exits.
#   needs: $bin (a 64-bit build with the tools), $names (a prefix for event names private to this
#   run), $harness (the script's name, for its messages)

winpath() { echo "Z:$(echo "$1" | tr '/' '\\')"; }
ctl="$bin/tools/scene/ZYRSceneCtl.exe"
zyr_scene_pid=""
zyr_server_pid=""
zyr_server_tag=""

# zyr_start_log_server <tag> <log file> [wait]: every line of the capturer's folder into the file;
# its events are "$names-<tag>-ready" and "$names-<tag>-quit". With "wait" it returns once the server
# is ready (otherwise the capturer's host waits for the ready event itself).
zyr_start_log_server() {
  zyr_server_tag=$1
  wine "$bin/tools/logserver/ZYRLogServer.exe" --prefix "$(winpath "$bin/src/")" --name zyr --level 0 \
    --ready-event "$names-$1-ready" --quit-event "$names-$1-quit" --out "$(winpath "$2")" &
  zyr_server_pid=$!
  if [ "${3:-}" = wait ]; then
    wine "$ctl" wait "$names-$1-ready" 60000 || { echo "$harness: log server $1 did not start" >&2; exit 1; }
  fi
}

# Ends the running log server; its file is complete once it has drained the rings and ended.
zyr_stop_log_server() {
  if [ -n "$zyr_server_pid" ]; then
    wine "$ctl" set "$names-$zyr_server_tag-quit" >/dev/null 2>&1 || true
    wait "$zyr_server_pid" 2>/dev/null || true
    zyr_server_pid=""
  fi
}

zyr_end_session() {
  zyr_stop_log_server
  if [ -n "$zyr_scene_pid" ]; then
    wine "$ctl" set "$names-scene-quit" >/dev/null 2>&1 || true
    wait "$zyr_scene_pid" 2>/dev/null || true
  fi
  zyr_wine_cleanup
}
trap zyr_end_session EXIT

wine "$bin/tools/scene/ZYRScene.exe" --pattern coords --pointer 960,540 --ready-event "$names-scene-ready" \
  --quit-event "$names-scene-quit" &
zyr_scene_pid=$!
# The first window of a fresh Wine session waits for Wine's desktop process: a generous bound.
wine "$ctl" wait "$names-scene-ready" 120000 || { echo "$harness: the scene did not show its pattern" >&2; exit 1; }
