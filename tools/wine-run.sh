#!/usr/bin/env bash
# Runs one Windows program under Wine (wine64 loader) with the suite's environment and a time-out,
# so a hung dialog or process can never hang CI. ctest uses it as the emulator.
. "$(dirname "$0")/wine-env.sh"
exec timeout -k 5 "${TAVRO_WINE_TIMEOUT:-150}" wine "$@"
