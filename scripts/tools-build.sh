# Sourced by the scripts that run the capturer beside the tools (run.sh, the harnesses,
# bench-frames.sh) after deps.sh.
# zyr_tools_build <dir> <build type> <target>...: builds the targets in <dir>, first configuring it as
# a 64-bit build of that type without the test suites when it has not been configured yet (a build
# the caller names, such as build/w64 after scripts/test.sh, is used as it is configured).
zyr_tools_build() {
  local dir=$1 type=$2
  shift 2
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE="$type" \
      -DZYR_BUILD_TESTS=OFF -DZYR_BUILD_WINEPREFIX="$ZYR_BUILD_DIR/wineprefix-build" >/dev/null
  fi
  ninja -C "$dir" "$@"
}
