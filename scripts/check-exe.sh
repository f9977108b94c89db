#!/usr/bin/env bash
# Checks a built capturer executable: PE format of the expected architecture, GUI subsystem, and
# the manifest (administrator rights, PerMonitorV2, Windows 10) embedded as a resource.
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
echo "check-exe: $exe: $info, manifest embedded"
