#!/usr/bin/env bash
# Runs a Windows program under Wine as a build step (the capturer's shaders are compiled this way).
# It uses a Wine prefix of the build's own, never the test prefix that wine-env.sh creates and
# boots in its careful order, and leaves nothing of Wine running: the prefix's wineserver is
# stopped before the script returns. The first use creates the prefix (about 8 s, about 700 MB);
# later uses cost one Wine start (about 2 s with the server's start and stop). Build steps that
# share a prefix (parallel steps, or several build directories given the same prefix) take turns
# through a lock file beside it. No display is used.
#   usage: scripts/wine-build-run.sh <prefix directory> <program.exe> [arguments...]
# Exit status: the program's, or non-zero when the prefix cannot be made or Wine hangs.
set -euo pipefail
if [ $# -lt 2 ]; then
  echo "usage: wine-build-run.sh <prefix directory> <program.exe> [arguments...]" >&2
  exit 2
fi
prefix=$1
shift
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$(dirname "$prefix")"

exec 9>"$prefix.lock"
flock 9
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# The server of this prefix only: it serves no one else while we hold the lock.
stop_wineserver() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
}
trap stop_wineserver EXIT

if [ ! -f "$prefix/system.reg" ]; then
  echo "wine-build-run: creating the build's Wine prefix $prefix (log: $prefix.log)"
  if ! timeout 300 wineboot -i >"$prefix.log" 2>&1 </dev/null; then
    echo "wine-build-run: wineboot failed, see $prefix.log" >&2
    exit 1
  fi
  # A new prefix's server is left to end on its own (it writes the registry as it ends).
  timeout 120 wineserver -w
fi
timeout 300 "$root/scripts/wine-run.sh" "$@" </dev/null
