#!/usr/bin/env bash
# Builds every deliverable: the 32-bit product into dist/win32, the x86_64 build into dist/win64,
# then lays out and runs the demo application directory under Wine (dist/demo).
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
cd "$root"

"$root/tools/install-deps.sh"

for build in win32 win64; do
  echo "== building $build"
  "$root/tools/configure.sh" "$build"
  rm -rf "$root/dist/$build"
  cmake --install "$root/build/$build" --prefix "$root/dist/$build" >/dev/null
done
echo "Deliverables:"
(cd "$root/dist" && find win32 win64 -maxdepth 1 -type f | sort | sed 's/^/  dist\//')

echo "== demo"
"$root/tools/wine-session.sh" start >/dev/null
trap '"$root/tools/wine-session.sh" stop' EXIT
"$root/tools/run-demo.sh" "$root/build/win64" "$root/dist/demo"
