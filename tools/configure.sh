#!/usr/bin/env bash
# configure.sh native|win32|win64: configures and builds one of the three builds in
# build/<name> (or $TAVRO_BUILD_DIR/<name>, so several work trees of builds can coexist).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
name="$1"
build_dir="${TAVRO_BUILD_DIR:-$root/build}/$name"
args=(-G Ninja -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE="${TAVRO_BUILD_TYPE:-RelWithDebInfo}")
[ "${CI:-}" = "true" ] && args+=(-DTAVRO_WERROR=ON)
case "$name" in
  native) args+=(-DCMAKE_BUILD_TYPE=Debug) ;;
  win32) args+=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-w64-mingw32.cmake") ;;
  win64) args+=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64-w64-mingw32.cmake") ;;
  *) echo "usage: $0 native|win32|win64" >&2; exit 2 ;;
esac
cmake "${args[@]}" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
