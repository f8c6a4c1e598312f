#!/usr/bin/env bash
# Builds and runs every suite: the portable logic natively (ASan, UBSan), the static checks
# of the 32-bit product, and the x86_64 build under Wine. Ends with "N passed, N failed".
set -uo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
cd "$root"

"$root/tools/install-deps.sh" || exit 1

passed=0
failed=0
# Adds one ctest run's counts from its summary line "... N tests failed out of M".
count() {
  local log="$1" line total bad
  line=$(grep -E "tests failed out of [0-9]+" "$log" | tail -n 1)
  if [ -z "$line" ]; then
    if grep -q "No tests were found" "$log"; then return; fi
    failed=$((failed + 1)); return
  fi
  bad=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* tests failed out of ([0-9]+).*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

run_suite() {
  local name="$1"; shift
  local log="$root/build/$name-ctest.log"
  echo "== $name suite"
  (cd "$root/build/$name" && ctest --output-on-failure "$@") 2>&1 | tee "$log" | grep -E "\*\*\*(Failed|Timeout|Exception)|Not Run|tests passed|tests failed out of|^(Errors|The following)" || true
  count "$log"
}

build() {
  echo "== building $1"
  if ! "$root/tools/configure.sh" "$1" >"$root/build/$1-build.log" 2>&1; then
    tail -n 60 "$root/build/$1-build.log"
    echo "build $1 failed"
    failed=$((failed + 1))
    return 1
  fi
}

mkdir -p build
if build native; then run_suite native -j "$(nproc)"; fi
if build win32; then run_suite win32 -j "$(nproc)"; fi

# Everything under Wine shares one prefix, server and display for the whole run.
"$root/tools/wine-session.sh" start >/dev/null
trap '"$root/tools/wine-session.sh" stop' EXIT
. "$root/tools/wine-env.sh"
# A Wine process now and then crashes while it exits after its test passed (media work queues
# winding down under load): such a case gets one more run; a failure that repeats still counts.
if build win64; then run_suite win64 -j "$(nproc)"; fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
