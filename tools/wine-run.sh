#!/usr/bin/env bash
# Runs one Windows program under Wine with the suite's environment and a time-out, so a hung
# dialog or process can never hang CI. ctest uses it as the x86_64 build's emulator (the host's
# Wine 8); tools/wine32-run.sh is the 32-bit build's (Wine 10 in the sid root).
#
# A GoogleTest case asked for its XML report (--gtest_output=xml:FILE) is judged on its first run
# from the exit status and the report together: it passes when the program exits 0 with a report
# in which every test ran and none failed. A program that crashes while exiting after such a
# report (Wine now and then does) passes too, with the line "exit crash after a complete report:"
# on its output and in TAVRO_EXIT_CRASH_LOG, so each one is seen and counted. A missing, cut-short
# or failing report fails the case.
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/wine-env.sh"
run() { timeout -k 5 "${TAVRO_WINE_TIMEOUT:-150}" "${TAVRO_WINE_IN_ROOT[@]}" wine "$@"; }

# The program writes its report beside the asked one, under a name Windows never takes for a
# device (a case named "nul" would write to NUL), given as Wine's Z: path (GoogleTest on Windows
# reads a path that starts with "/" as relative to the working folder).
report=""
written=""
args=()
for arg in "$@"; do
  case "$arg" in
    --gtest_output=xml:/*)
      report="${arg#--gtest_output=xml:}"
      written="$(dirname "$report")/report-$(basename "$report")"
      arg="--gtest_output=xml:Z:${written//\//\\}" ;;
  esac
  args+=("$arg")
done
if [ -z "$report" ]; then
  run "$@"
  exit
fi

# A report left by an earlier run must never speak for this one.
rm -f "$report" "$written"
mkdir -p "$(dirname "$report")"
status=0
run "${args[@]}" || status=$?
[ ! -e "$written" ] || mv -f "$written" "$report"
verdict=0
python3 "$here/gtest_report.py" verdict "$report" "$status" || verdict=$?
case $verdict in
  0) exit 0 ;;
  2)
    [ -z "${TAVRO_EXIT_CRASH_LOG:-}" ] ||
      echo "exit crash after a complete report: $(basename "$1") $(basename "$report" .xml) (exit status $status)" >>"$TAVRO_EXIT_CRASH_LOG"
    exit 0 ;;
  *) [ "$status" -ne 0 ] && exit "$status"; exit 1 ;;
esac
