# Sourced by the test and run scripts: starts a private Xvfb and one wineserver for a private Wine
# prefix, and stops both (and every Wine process of the prefix) when the script exits.
#   needs: $ZYR_BUILD_DIR
export ZYR_WINEPREFIX="${ZYR_WINEPREFIX:-$ZYR_BUILD_DIR/wineprefix}"
export WINEPREFIX="$ZYR_WINEPREFIX"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="

zyr_display=""
for n in $(seq 90 140); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then zyr_display=":$n"; break; fi
done
[ -n "$zyr_display" ] || { echo "wine-env: no free X display number" >&2; exit 1; }
Xvfb "$zyr_display" -screen 0 1920x1080x24 -nolisten tcp >"$ZYR_BUILD_DIR/xvfb.log" 2>&1 &
zyr_xvfb_pid=$!
export DISPLAY="$zyr_display"

zyr_wine_cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  kill "$zyr_xvfb_pid" >/dev/null 2>&1 || true
  wait "$zyr_xvfb_pid" 2>/dev/null || true
}
trap zyr_wine_cleanup EXIT

for _ in $(seq 1 100); do
  [ -e "/tmp/.X11-unix/X${zyr_display#:}" ] && break
  kill -0 "$zyr_xvfb_pid" 2>/dev/null || { echo "wine-env: Xvfb failed:" >&2; cat "$ZYR_BUILD_DIR/xvfb.log" >&2; exit 1; }
  sleep 0.1
done
[ -e "/tmp/.X11-unix/X${zyr_display#:}" ] || { echo "wine-env: Xvfb did not come up" >&2; exit 1; }

mkdir -p "$WINEPREFIX"
# One persistent wineserver for the whole run (exit status 2: one already runs for this prefix).
wineserver -p || [ $? -eq 2 ]
# Create or update the prefix and start its services now, detached from our output: a service
# started later by a test program would inherit (and hold open) the pipe that ctest reads.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-env: creating Wine prefix $WINEPREFIX"
  wineboot -i >/dev/null 2>&1 </dev/null
  # A prefix created under an already running wineserver ends up with two services.exe, and every
  # later start of Wine's desktop process then waits 10-22 s for RpcSs. Restart the server once
  # and boot the finished prefix cleanly.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  wineserver -p || [ $? -eq 2 ]
  wineboot >/dev/null 2>&1 </dev/null
else
  wineboot >/dev/null 2>&1 </dev/null
fi
# A program that crashes gets a backtrace on stderr and ends at once. Wine's default shows a crash
# dialog that nobody can answer on the virtual display, and the hung program holds ctest until its
# time-out.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 </dev/null
