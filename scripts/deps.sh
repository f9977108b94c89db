#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and running need. Idempotent: apt is only
# called when something is missing. Never adds the i386 architecture (it breaks the 64-bit Wine).
set -euo pipefail
packages=(
  ca-certificates cmake ninja-build file binutils util-linux
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  wine wine64 xvfb
  clang libclang-rt-14-dev googletest libstb-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "deps: installing ${missing[*]}"
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
