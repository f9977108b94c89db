#!/usr/bin/env bash
# Runs a Windows program under Wine with the project's private prefix and quiet debug output.
# Used as CMake's cross-compiling emulator and by the test and run scripts.
set -euo pipefail
export WINEPREFIX="${WINEPREFIX:-${ZYR_WINEPREFIX:-$(cd "$(dirname "$0")/.." && pwd)/build/wineprefix}}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
