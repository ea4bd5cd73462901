#!/usr/bin/env bash
# Runs a Windows program under Wine, headless: no display, no Wine debug output, a Wine prefix
# of our own under build/ (made on first use, which takes a minute; kept for later runs).
#   tools/wine.sh PROGRAM.exe [ARGS...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export WINEPREFIX="${QUORVIN_WINEPREFIX:-$root/build/wine-prefix}"
export WINEDEBUG=-all
export DISPLAY="${QUORVIN_WINE_DISPLAY:-}"  # tools/wine_window.sh gives an Xvfb display
# No .NET or HTML engine: nothing here needs them, and Wine would offer to download them.
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine="$(command -v wine64 || command -v wine)"
server="${wine%64}server"
[ -x "$server" ] || server="$(command -v wineserver || true)"
# A prefix is ready only once its set-up has been seen to take: a run killed half-way through
# the first set-up, or a registry write still held by Wine's server, must not leave a prefix
# that later runs take for a finished one.
ready="$WINEPREFIX/.quorvin-ready"
if [ ! -f "$ready" ]; then
  mkdir -p "$WINEPREFIX"
  for attempt in 1 2 3; do
    "$wine" wineboot --init >/dev/null 2>&1 || true
    [ -n "$server" ] && "$server" -w >/dev/null 2>&1 || true
    # Wine marks Linux dot-files hidden; on Windows a name beginning with "." is an ordinary
    # file, and only the hidden attribute hides it. Be Windows.
    "$wine" reg add 'HKCU\Software\Wine' /v ShowDotFiles /d Y /f >/dev/null 2>&1 || true
    [ -n "$server" ] && "$server" -w >/dev/null 2>&1 || true
    if grep -qi '"ShowDotFiles"="Y"' "$WINEPREFIX/user.reg" 2>/dev/null; then
      touch "$ready"
      break
    fi
    echo "tools/wine.sh: the Wine prefix $WINEPREFIX is not set up yet (attempt $attempt)" >&2
  done
  [ -f "$ready" ] || { echo "tools/wine.sh: could not set up the Wine prefix $WINEPREFIX" >&2; exit 1; }
fi
# Keep Wine's server (and the helper processes it starts with it) up for a minute after the
# last program ends, so that runs in a row do not each start them again.
[ -n "$server" ] && "$server" -p60 >/dev/null 2>&1 || true
exec "$wine" "$@"
