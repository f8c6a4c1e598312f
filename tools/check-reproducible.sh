#!/usr/bin/env bash
# check-reproducible.sh BUILD_DIR: builds the 32-bit deliverables once more, from a copy of the
# checkout in another folder, into another build folder, a day later by the clock (faketime) and in
# another time zone, and compares what both builds install (deliverables and debug files) byte for
# byte with BUILD_DIR's, a configured and built win32 tree of this checkout. On a difference it
# names the file and its first differing offset. TAVRO_REPRO_DIR keeps the second build there
# (default: a temporary folder, removed afterwards).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
first="$(cd "$1" && pwd)"

if [ -n "${TAVRO_REPRO_DIR:-}" ]; then
  work="$TAVRO_REPRO_DIR"; rm -rf "$work"; mkdir -p "$work"
else
  work="$(mktemp -d /tmp/tavro-reproduce.XXXXXX)"
  trap 'rm -rf "$work"' EXIT
fi
# Paths of another length than the first build's, so no path can hide in a fixed-size field.
source="$work/another checkout/tavro"
second="$work/elsewhere/build-win32-again"
mkdir -p "$source"
# The working tree as it is, tracked and new files alike, without builds and outputs.
if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  (cd "$root" && git ls-files -z --cached --others --exclude-standard) |
    (cd "$root" && xargs -0 sh -c 'for f; do [ -e "$f" ] && printf "%s\0" "$f"; done' sh) |
    tar -C "$root" --null --files-from=- -cf - | tar -C "$source" -xf -
else
  tar -C "$root" --exclude=./build --exclude=./build-* --exclude=./dist -cf - . | tar -C "$source" -xf -
fi

deliverables=(Tavro Pickora Korvix Pramble Reelwright Reelshift)
TZ=Pacific/Kiritimati faketime -f '+1d' cmake -G Ninja -S "$source" -B "$second" \
  -DCMAKE_BUILD_TYPE="${TAVRO_BUILD_TYPE:-RelWithDebInfo}" \
  -DCMAKE_TOOLCHAIN_FILE="$source/cmake/toolchain-i686-w64-mingw32.cmake" >"$work/configure.log" 2>&1 ||
  { tail -n 30 "$work/configure.log"; echo "the second configure failed"; exit 1; }
TZ=Pacific/Kiritimati faketime -f '+1d' cmake --build "$second" -j "$(nproc)" --target "${deliverables[@]}" \
  >"$work/build.log" 2>&1 || { tail -n 30 "$work/build.log"; echo "the second build failed"; exit 1; }

# Only the deliverables are built in the second tree: install them without building the rest.
for tree in first second; do
  dir="${!tree}"
  for component in deliverables debug; do
    cmake --install "$dir" --component "$component" --prefix "$work/out-$tree/$component" >/dev/null
  done
done

fail=0
count=0
while IFS= read -r -d '' file; do
  rel="${file#"$work/out-first/"}"
  other="$work/out-second/$rel"
  count=$((count + 1))
  if [ ! -f "$other" ]; then
    echo "$rel: missing from the second build"; fail=1; continue
  fi
  if ! difference=$(cmp "$file" "$other" 2>&1); then
    # cmp counts bytes from 1; "EOF on" means one file is a prefix of the other.
    byte=$(sed -nE 's/.* differ: (char|byte) ([0-9]+),.*/\2/p' <<<"$difference")
    if [ -n "$byte" ]; then
      printf '%s: differs from offset %d (0x%x)\n' "$rel" $((byte - 1)) $((byte - 1))
    else
      echo "$rel: $difference"
    fi
    fail=1
  fi
done < <(find "$work/out-first" -type f -print0 | sort -z)
extra=$(cd "$work/out-second" && find . -type f | sort | while read -r f; do [ -f "$work/out-first/$f" ] || echo "$f"; done)
[ -z "$extra" ] || { echo "only in the second build: $extra"; fail=1; }
[ "$count" -eq 12 ] || { echo "expected six deliverables and six debug files, found $count files"; fail=1; }
[ $fail -eq 0 ] && echo "reproducible: $count files byte-identical (deliverables and debug files)"
exit $fail
