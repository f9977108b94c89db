#!/usr/bin/env bash
# Checks that the 32-bit and the 64-bit capturer carry the same compiled shaders: each exe has
# exactly the "SHADER" resources that src/resources/shaders/Shaders.def lists, and every one of
# them has the same bytes in both. The resource data is read with each architecture's windres
# (its dump of a resource is a function of the resource's bytes alone).
#   usage: scripts/check-shaders.sh <32-bit exe> <64-bit exe>
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exe32=$1 exe64=$2
fail() { echo "check-shaders: $*" >&2; exit 1; }

mapfile -t ids < <(sed -n 's/^ZYR_SHADER(\([0-9]*\),.*/\1/p' "$root/src/resources/shaders/Shaders.def")
[ ${#ids[@]} -gt 0 ] || fail "Shaders.def lists no shader"
dump32=$(i686-w64-mingw32-windres -i "$exe32" -O rc) || fail "windres cannot read $exe32"
dump64=$(x86_64-w64-mingw32-windres -i "$exe64" -O rc) || fail "windres cannot read $exe64"

# The lines between "<id> "SHADER"", BEGIN and END in a dump: the data of that resource.
shader_data() {
  awk -v head="$2 \"SHADER\"" '
    $0 == head { on = 1; next }
    on && $0 == "BEGIN" { next }
    on && $0 == "END" { exit }
    on { print }' <<<"$1"
}
shader_ids() { sed -n 's/^\([0-9]*\) "SHADER"$/\1/p' <<<"$1" | sort -n | tr '\n' ' '; }

expected=$(printf '%s\n' "${ids[@]}" | sort -n | tr '\n' ' ')
for exe in "$exe32" "$exe64"; do
  dump=$dump64
  [ "$exe" = "$exe32" ] && dump=$dump32
  found=$(shader_ids "$dump")
  [ "$found" = "$expected" ] || fail "$exe has SHADER resources [$found], expected [$expected]"
done
for id in "${ids[@]}"; do
  data32=$(shader_data "$dump32" "$id")
  data64=$(shader_data "$dump64" "$id")
  [ -n "$data32" ] || fail "SHADER $id of $exe32 is empty"
  [[ $data32 == "  0x43425844L,"* ]] || fail "SHADER $id of $exe32 is no DXBC container"
  [ "$data32" = "$data64" ] || fail "SHADER $id differs between $exe32 and $exe64"
  echo "check-shaders: SHADER $id identical in both exes (dump sha256 $(sha256sum <<<"$data32" | cut -c1-16))"
done
