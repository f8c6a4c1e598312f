#!/usr/bin/env bash
# wine-session.sh start|stop [win64|win32]: the display, prefix and wineserver one run of a
# build's suites uses. win64 (default): the host's Wine 8 for the x86_64 build; win32: Wine 10 in
# the sid root for the 32-bit product (start makes the root first when this machine has none).
# Each has its own state folder, prefix, server and display.
#   start: Xvfb first (the first GUI process fixes headless or X for the whole server
#          session), a fresh prefix, a persistent wineserver, and one first process with all
#          streams on /dev/null (its background services inherit them; a pipe would hang).
#   stop:  ends the wineserver and Xvfb.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
case "${2:-win64}" in
  win64|win32) export TAVRO_WINE_BUILD="${2:-win64}" ;;
  *) echo "usage: $0 start|stop [win64|win32]" >&2; exit 2 ;;
esac
. "$here/wine-env.sh"
display_file="$TAVRO_WINE_STATE/display"
xvfb_pid_file="$TAVRO_WINE_STATE/xvfb.pid"
# Marks a prefix Wine 10 made, so the Wine 8 session never takes it.
wine10_mark="$WINEPREFIX/.tavro-wine10"

in_wine() { "${TAVRO_WINE_IN_ROOT[@]}" "$@"; }

start() {
  if [ "$TAVRO_WINE_BUILD" = win32 ]; then
    "$here/sid-root.sh" ensure
  fi
  stop_quietly
  mkdir -p "$TAVRO_WINE_STATE"
  local n=91
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  echo $! >"$xvfb_pid_file"
  echo ":$n" >"$display_file"
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done

  rm -rf "$WINEPREFIX"
  # Create the prefix with a server of its own and let that server end before the persistent one
  # starts: a persistent server started while the first one winds down leaves two services.exe,
  # RpcSs never starts and every COM start then waits ~10 s.
  # setsid: the background services must outlive the shell job that started them.
  timeout 180 setsid "${TAVRO_WINE_IN_ROOT[@]}" wine wineboot -i </dev/null >/dev/null 2>&1
  timeout 60 "${TAVRO_WINE_IN_ROOT[@]}" "$TAVRO_WINESERVER" -w </dev/null >/dev/null 2>&1 || true
  [ "$TAVRO_WINE_BUILD" = win64 ] || : >"$wine10_mark"
  timeout 60 setsid "${TAVRO_WINE_IN_ROOT[@]}" "$TAVRO_WINESERVER" -p </dev/null >/dev/null 2>&1
  timeout 60 setsid "${TAVRO_WINE_IN_ROOT[@]}" wine cmd /c exit </dev/null >/dev/null 2>&1
  # Unmanaged windows react at once instead of after ~2 s.
  timeout 60 "${TAVRO_WINE_IN_ROOT[@]}" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
  echo "DISPLAY=:$n"
}

stop_quietly() {
  if [ -d "$WINEPREFIX" ] && { [ "$TAVRO_WINE_BUILD" = win64 ] || "$here/sid-root.sh" status >/dev/null 2>&1; }; then
    timeout 30 "${TAVRO_WINE_IN_ROOT[@]}" "$TAVRO_WINESERVER" -k </dev/null >/dev/null 2>&1 || true
  fi
  if [ -f "$xvfb_pid_file" ]; then
    kill "$(cat "$xvfb_pid_file")" 2>/dev/null || true
    rm -f "$xvfb_pid_file" "$display_file"
  fi
}

if [ "$TAVRO_WINE_BUILD" = win64 ] && [ -e "$wine10_mark" ]; then
  echo "$WINEPREFIX was made by Wine 10; the Wine 8 session needs a prefix of its own" >&2
  exit 1
fi
case "${1:-}" in
  start) start ;;
  stop) stop_quietly ;;
  *) echo "usage: $0 start|stop [win64|win32]" >&2; exit 2 ;;
esac
