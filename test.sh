#!/usr/bin/env bash
# Builds and runs every suite in three stages: the portable logic natively (ASan, UBSan), the
# 32-bit product (static checks, and its Wine suites under Wine 10 in the sid root, which is made
# once per machine), and the x86_64 build under the host's Wine 8. Ends with
# "N passed, N failed, N skipped" over all three; any failure fails the run. Every case counts on
# its first run: nothing is run again.
set -uo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
cd "$root"

"$root/tools/install-deps.sh" || exit 1

passed=0
failed=0
skipped=0
# Adds one ctest run's counts from its summary line "... N tests failed out of M" and its list of
# skipped tests. A stage that found no tests fails: a build that made no suites tests nothing.
count() {
  local log="$1" line total bad skips
  line=$(grep -E "tests failed out of [0-9]+" "$log" | tail -n 1)
  if [ -z "$line" ]; then
    if grep -q "No tests were found" "$log"; then echo "no tests were found"; fi
    failed=$((failed + 1)); return
  fi
  bad=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* tests failed out of ([0-9]+).*/\1/' <<<"$line")
  skips=$(grep -cE "^[[:space:]]*[0-9]+ - .* \(Skipped\)$" "$log" || true)
  passed=$((passed + total - bad - skips))
  failed=$((failed + bad))
  skipped=$((skipped + skips))
}

# Every skipped case with its reason, from the cases' GoogleTest reports.
show_skips() {
  local name="$1" log="$root/build/$1-ctest.log"
  grep -qE "\(Skipped\)$" "$log" || return 0
  python3 "$root/tools/gtest_report.py" skips "$root/build/$name/test-reports" | sed 's/^/skipped: /'
}

# Cases whose program crashed while exiting after a complete, passing report pass, and each is
# shown and counted here (the emulator, tools/wine-run.sh, writes them to this log).
exit_crashes=0
exit_crash_log() { echo "$root/build/$1-exit-crashes.log"; }
show_exit_crashes() {
  local log
  log="$(exit_crash_log "$1")"
  [ -s "$log" ] || return 0
  cat "$log"
  exit_crashes=$((exit_crashes + $(wc -l <"$log")))
}

run_suite() {
  local name="$1"; shift
  local log="$root/build/$name-ctest.log"
  echo "== $name suite"
  # Reports and exit crashes of an earlier run never count for this one.
  rm -rf "$root/build/$name/test-reports"
  : >"$(exit_crash_log "$name")"
  (cd "$root/build/$name" && TAVRO_EXIT_CRASH_LOG="$(exit_crash_log "$name")" ctest --output-on-failure "$@") 2>&1 | tee "$log" | grep -E "\*\*\*(Failed|Timeout|Exception)|Not Run|tests passed|tests failed out of|^(Errors|The following)" || true
  count "$log"
  show_skips "$name"
  show_exit_crashes "$name"
}

# Which Wine runs a stage: the sid root follows sid, so its version can change with no change here.
show_wine_version() {
  local in_root=() version
  [ "$1" = win64 ] || in_root=("$root/tools/sid-root.sh" run)
  version=$("${in_root[@]}" wine --version 2>/dev/null) || version="an unknown Wine (wine --version failed)"
  echo "== $1 runs under ${version/wine-/Wine }"
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

# One case: the 32-bit deliverables and debug files, built again from a copy of the checkout in
# other folders, a day later and in another time zone, are byte-identical to build/win32's.
check_reproducible() {
  local log="$root/build/reproducible.log"
  echo "== reproducible 32-bit deliverables"
  if "$root/tools/check-reproducible.sh" "$root/build/win32" >"$log" 2>&1; then
    tail -n 1 "$log"
    passed=$((passed + 1))
  else
    tail -n 40 "$log"
    echo "***Failed reproducible build"
    failed=$((failed + 1))
  fi
}

stage_started=$SECONDS
stage_done() { echo "== $1: $((SECONDS - stage_started)) s"; stage_started=$SECONDS; }

mkdir -p build
# Each Windows build's suites share one prefix, server and display of their own Wine for the run.
trap '"$root/tools/wine-session.sh" stop win32; "$root/tools/wine-session.sh" stop win64' EXIT

if build native; then run_suite native -j "$(nproc)"; fi
stage_done native

if build win32; then
  stage_done "win32 build"
  check_reproducible
  stage_done "reproducibility check"
  echo "== sid root for Wine 10"
  if ! "$root/tools/sid-root.sh" ensure; then
    echo "the sid root could not be made"; failed=$((failed + 1))
  elif ! "$root/tools/wine-session.sh" start win32 >/dev/null; then
    echo "the Wine 10 session did not start"; failed=$((failed + 1))
  else
    stage_done "sid root and Wine 10 session"
    show_wine_version win32
    run_suite win32 -j "$(nproc)"
  fi
  "$root/tools/wine-session.sh" stop win32
fi
stage_done "win32 suite"

"$root/tools/wine-session.sh" start win64 >/dev/null
. "$root/tools/wine-env.sh"
if build win64; then show_wine_version win64; run_suite win64 -j "$(nproc)"; fi
stage_done "win64 build and suite"

echo "$exit_crashes exit crashes after a complete report"
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
