#!/usr/bin/env bash
# The 32-bit build's emulator: tools/wine-run.sh with Wine 10 (WoW64) in the sid root and the
# 32-bit session's own prefix, server and display (tools/wine-session.sh start win32).
export TAVRO_WINE_BUILD=win32
exec "$(dirname "$0")/wine-run.sh" "$@"
