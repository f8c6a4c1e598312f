#!/usr/bin/env bash
# wine-session.sh start|stop: the display, prefix and wineserver one run of the suites uses.
#   start: Xvfb first (the first GUI process fixes headless or X for the whole server
#          session), a fresh prefix, a persistent wineserver, and one first process with all
#          streams on /dev/null (its background services inherit them; a pipe would hang).
#   stop:  ends the wineserver and Xvfb.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/wine-env.sh"
display_file="$TAVRO_WINE_STATE/display"
xvfb_pid_file="$TAVRO_WINE_STATE/xvfb.pid"

start() {
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
  timeout 180 setsid wine wineboot -i </dev/null >/dev/null 2>&1
  timeout 60 wineserver -w </dev/null >/dev/null 2>&1 || true
  timeout 60 setsid wineserver -p </dev/null >/dev/null 2>&1
  timeout 60 setsid wine cmd /c exit </dev/null >/dev/null 2>&1
  # Unmanaged windows react at once instead of after ~2 s.
  timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
  echo "DISPLAY=:$n"
}

stop_quietly() {
  timeout 30 wineserver -k </dev/null >/dev/null 2>&1 || true
  if [ -f "$xvfb_pid_file" ]; then
    kill "$(cat "$xvfb_pid_file")" 2>/dev/null || true
    rm -f "$xvfb_pid_file" "$display_file"
  fi
}

case "${1:-}" in
  start) start ;;
  stop) stop_quietly ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
