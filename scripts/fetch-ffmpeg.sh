#!/usr/bin/env bash
# Fetches the Windows ffmpeg.exe that the frame benchmark measures beside the capturer (a peer to
# compare with, never part of the product): the npm registry's @ffmpeg-installer/win32-x64 4.1.0
# tarball, downloaded with apt's own downloader (no curl or wget on a fresh machine) and checked
# against its pinned SHA-256 (the same file as the registry's published sha512 integrity).
# Idempotent: nothing is downloaded when ffmpeg.exe is already in place with its known hash.
#   usage: scripts/fetch-ffmpeg.sh      -> $ZYR_BUILD_DIR/ffmpeg/ffmpeg.exe (default build/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${ZYR_BUILD_DIR:-$root/build}"
dir="$build/ffmpeg"
url=https://registry.npmjs.org/@ffmpeg-installer/win32-x64/-/win32-x64-4.1.0.tgz
tarball_sha256=2aa313be3585994d710197bc4196f5fcbb6a1469be1013b24d200e45d773592f
exe_sha256=c8abc49e7be62dde8e12972af373959e0076a7b8dc8040eb45978e0608f8781e

exe="$dir/ffmpeg.exe"
if [ -f "$exe" ] && echo "$exe_sha256  $exe" | sha256sum --check --status; then
  echo "fetch-ffmpeg: $exe is in place"
  exit 0
fi

mkdir -p "$dir"
tarball="$dir/win32-x64-4.1.0.tgz"
if ! { [ -f "$tarball" ] && echo "$tarball_sha256  $tarball" | sha256sum --check --status; }; then
  rm -f "$tarball"
  /usr/lib/apt/apt-helper download-file "$url" "$tarball" "SHA256:$tarball_sha256"
fi
tar -xzf "$tarball" -C "$dir" --strip-components=1 package/ffmpeg.exe
if ! echo "$exe_sha256  $exe" | sha256sum --check --status; then
  echo "fetch-ffmpeg: $exe does not have the expected SHA-256" >&2
  rm -f "$exe"
  exit 1
fi
rm -f "$tarball"
echo "fetch-ffmpeg: $exe"
