# Sourced: the environment every Wine process of the build and the suites shares.
# TAVRO_WINE_BUILD picks the Wine: win64 (default) is the host's Wine 8 for the x86_64 build;
# win32 is Wine 10 in the sid root (tools/sid-root.sh) for the 32-bit product.
# For win64, values already set by the caller win, so test.sh can point a run at its own prefix.
# For win32 only TAVRO_WINE32_STATE does: a prefix, server or display of the Wine 8 session in
# the caller's environment must never reach Wine 10 (a prefix that Wine 10 has used is not
# handed back to Wine 8, and the two desktops stay apart).
_tavro_root="$(cd "$(dirname "${BASH_SOURCE[0]:-$0}")/.." && pwd)"
if [ "${TAVRO_WINE_BUILD:-win64}" = win32 ]; then
  export TAVRO_WINE_STATE="${TAVRO_WINE32_STATE:-${TAVRO_BUILD_DIR:-$_tavro_root/build}/wine32}"
  export WINEPREFIX="$TAVRO_WINE_STATE/prefix"
  unset DISPLAY WINESERVER WINELOADER
  # sid's wineserver has no link in /usr/bin.
  TAVRO_WINESERVER=/usr/lib/x86_64-linux-gnu/wine/wineserver
  # Every Wine process runs in the root, with the state and the build folders bound inside.
  TAVRO_WINE_IN_ROOT=("$_tavro_root/tools/sid-root.sh" run)
  mkdir -p "$TAVRO_WINE_STATE"
  export TAVRO_SID_BINDS="$TAVRO_WINE_STATE${TAVRO_BUILD_DIR:+:$TAVRO_BUILD_DIR}${TAVRO_SID_BINDS:+:$TAVRO_SID_BINDS}"
else
  export TAVRO_WINE_STATE="${TAVRO_WINE_STATE:-$_tavro_root/build/wine}"
  export WINEPREFIX="${WINEPREFIX:-$TAVRO_WINE_STATE/prefix}"
  TAVRO_WINESERVER=wineserver
  TAVRO_WINE_IN_ROOT=()
fi
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono/Gecko installers (no network), and a crash ends with one line instead of a debugger.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winedbg.exe=d}"
# GStreamer (Wine's media back end) writes into these.
export HOME="$TAVRO_WINE_STATE/home"
export XDG_CACHE_HOME="$TAVRO_WINE_STATE/home/.cache"
export XDG_RUNTIME_DIR="$TAVRO_WINE_STATE/home/run"
export GST_REGISTRY="$TAVRO_WINE_STATE/home/gst-registry.bin"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY
mkdir -p "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
if [ -z "${DISPLAY:-}" ] && [ -f "$TAVRO_WINE_STATE/display" ]; then
  DISPLAY="$(cat "$TAVRO_WINE_STATE/display")"
  export DISPLAY
fi
