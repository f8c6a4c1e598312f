#!/usr/bin/env bash
# Builds every deliverable: the 32-bit product into dist/win32, the x86_64 build into dist/win64,
# each stripped, with its debug files in dist/win32-debug and dist/win64-debug; writes the release
# archives dist/tavro-native-VERSION-win32.zip and -win64.zip (each with a -debug.zip beside it)
# and dist/SHA256SUMS over the archives and the deliverables; then lays out and runs the demo
# application directory under Wine (dist/demo).
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
cd "$root"

"$root/tools/install-deps.sh"

# The archives' entry dates: the last commit's time, so one commit gives one set of checksums.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH="$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 946684800)"
fi
export SOURCE_DATE_EPOCH

archives=()
for build in win32 win64; do
  echo "== building $build"
  "$root/tools/configure.sh" "$build"
  tree="${TAVRO_BUILD_DIR:-$root/build}/$build"
  version="$(cat "$tree/release_version.txt")"
  rm -rf "$root/dist/$build" "$root/dist/$build-debug"
  cmake --install "$tree" --component deliverables --prefix "$root/dist/$build" >/dev/null
  cmake --install "$tree" --component debug --prefix "$root/dist/$build-debug" >/dev/null
  name="tavro-native-$version-$build"
  python3 "$root/tools/release-archive.py" "$root/dist/$build" "$root/dist/$name.zip"
  python3 "$root/tools/release-archive.py" "$root/dist/$build-debug" "$root/dist/$name-debug.zip"
  archives+=("$name.zip" "$name-debug.zip")
done
(cd "$root/dist" && sha256sum "${archives[@]}" $(find win32 win64 -maxdepth 1 -type f | sort) > SHA256SUMS)
echo "Release (dist/SHA256SUMS):"
sed 's/^/  /' "$root/dist/SHA256SUMS"

echo "== demo"
"$root/tools/wine-session.sh" start >/dev/null
trap '"$root/tools/wine-session.sh" stop' EXIT
"$root/tools/run-demo.sh" "$root/build/win64" "$root/dist/demo"
