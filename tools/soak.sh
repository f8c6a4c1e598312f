#!/usr/bin/env bash
# soak.sh [win32|win64 ...]: the fault-sweep suites again with each scenario's soak at full
# length: 10,000 cycles (TAVRO_SOAK_CYCLES), each scenario bounded to TAVRO_SOAK_SECONDS (300),
# in both Windows builds unless named. Prints one "soak ..." line of figures per scenario and
# ends with "N passed, N failed" over the suites.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export TAVRO_SOAK_CYCLES="${TAVRO_SOAK_CYCLES:-10000}"
export TAVRO_SOAK_SECONDS="${TAVRO_SOAK_SECONDS:-300}"
export TAVRO_WINE_TIMEOUT=$((TAVRO_SOAK_SECONDS * 8 + 600))
suites=(tests/services/korvix_fault_sweep_wine_tests tests/movie_writer/reelwright_fault_sweep_test
        tests/digitizer/digitizer_fault_sweep_test)
passed=0
failed=0
for build in "${@:-win32 win64}"; do
  for b in $build; do
    "$root/tools/configure.sh" "$b" >"$root/build/$b-soak-build.log" 2>&1 || { echo "build $b failed"; failed=$((failed + 1)); continue; }
    "$root/tools/wine-session.sh" start "$b" >/dev/null
    runner="$root/tools/wine-run.sh"
    [ "$b" = win32 ] && runner="$root/tools/wine32-run.sh"
    for suite in "${suites[@]}"; do
      echo "== $b ${suite##*/}"
      if (cd "$root/build/$b/$(dirname "$suite")" && TAVRO_WINE_BUILD="$b" "$runner" "./$(basename "$suite").exe") 2>&1 |
           tee "$root/build/$b-soak-$(basename "$suite").log" | grep -E "^(soak|sweep) |FAILED|Failure"; then :; fi
      if grep -q "^\[  PASSED  \]" "$root/build/$b-soak-$(basename "$suite").log" &&
         ! grep -q "^\[  FAILED  \]" "$root/build/$b-soak-$(basename "$suite").log"; then
        passed=$((passed + 1))
      else
        failed=$((failed + 1))
      fi
    done
    "$root/tools/wine-session.sh" stop "$b"
  done
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
