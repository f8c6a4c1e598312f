#!/usr/bin/env bash
# Runs one Windows program under Wine with the suite's environment and a time-out, so a hung
# dialog or process can never hang CI. ctest uses it as the x86_64 build's emulator (the host's
# Wine 8); tools/wine32-run.sh is the 32-bit build's (Wine 10 in the sid root).
. "$(dirname "$0")/wine-env.sh"
exec timeout -k 5 "${TAVRO_WINE_TIMEOUT:-150}" "${TAVRO_WINE_IN_ROOT[@]}" wine "$@"
