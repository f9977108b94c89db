#!/usr/bin/env bash
# Runs a Windows program under Wine with the project's private prefix and quiet debug output.
# Used as CMake's cross-compiling emulator and by the test and run scripts.
# The program's output goes through a file and is printed when it ends: a process that Wine starts
# on the program's behalf and that outlives it (a console host left by a child that was ended while
# it started) would otherwise hold the caller's pipe open, and ctest would wait on it until the
# test's time-out although the test had ended.
set -euo pipefail
export WINEPREFIX="${WINEPREFIX:-${ZYR_WINEPREFIX:-$(cd "$(dirname "$0")/.." && pwd)/build/wineprefix}}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
output=$(mktemp "${TMPDIR:-/tmp}/zyr-wine-run.XXXXXX")
trap 'rm -f "$output"' EXIT
status=0
wine "$@" >"$output" 2>&1 || status=$?
cat "$output"
exit "$status"
