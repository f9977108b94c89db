#!/usr/bin/env bash
# Checks a built capturer executable: PE format of the expected architecture, GUI subsystem, the
# manifest (administrator rights, PerMonitorV2, Windows 10) embedded as a resource, and that the
# screen-backed test duplication (tools/testdup) is in the test variant ZYRFullscreenCapturerTestDup.exe
# and nowhere else: its texture name is data the code uses, so it stays in any build of it.
set -euo pipefail
exe=$1 arch=$2
info=$(file -b "$exe")
case $arch in
  i386)   [[ $info == "PE32 executable (GUI) Intel 80386"* ]] || { echo "check-exe: $exe: $info" >&2; exit 1; } ;;
  x86-64) [[ $info == "PE32+ executable (GUI) x86-64"* ]] || { echo "check-exe: $exe: $info" >&2; exit 1; } ;;
esac
objdump -h "$exe" | grep -q '\.rsrc' || { echo "check-exe: $exe has no resource section" >&2; exit 1; }
for needle in 'level="requireAdministrator"' '>PerMonitorV2<' '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}'; do
  grep -aqF "$needle" "$exe" || { echo "check-exe: $exe: manifest lacks $needle" >&2; exit 1; }
done
marker='ZYRTestDup screen-backed duplication'
if [[ $(basename "$exe") == ZYRFullscreenCapturerTestDup.exe ]]; then
  grep -aqF "$marker" "$exe" || { echo "check-exe: $exe: the test variant lacks its duplication" >&2; exit 1; }
  echo "check-exe: $exe: $info, manifest embedded, screen-backed test duplication inside"
else
  if grep -aqF "$marker" "$exe"; then echo "check-exe: $exe contains the screen-backed test duplication" >&2; exit 1; fi
  echo "check-exe: $exe: $info, manifest embedded, no test duplication"
fi
