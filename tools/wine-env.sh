# Sourced: the environment every Wine process of the build and the suites shares.
# Values already set by the caller win, so test.sh can point a run at its own prefix.
_tavro_root="$(cd "$(dirname "${BASH_SOURCE[0]:-$0}")/.." && pwd)"
export TAVRO_WINE_STATE="${TAVRO_WINE_STATE:-$_tavro_root/build/wine}"
export WINEPREFIX="${WINEPREFIX:-$TAVRO_WINE_STATE/prefix}"
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
