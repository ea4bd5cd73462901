#!/usr/bin/env bash
# Runs a Windows program with a window under Wine, headless: on an Xvfb display of its own
# (started here, ended when the program ends), otherwise as tools/wine.sh does.
#   tools/wine_window.sh PROGRAM.exe [ARGS...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# A display number no other X server holds.
n=$(( 90 + $$ % 500 ))
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
status=0
# A Wine prefix of its own: a Wine server kept up by a run without a display (tools/wine.sh)
# would put this program's windows on a desktop with no display, where none can be made.
export QUORVIN_WINEPREFIX="${QUORVIN_WINEPREFIX:-$root/build/wine-prefix-x11}"
QUORVIN_WINE_DISPLAY=":$n" bash "$root/tools/wine.sh" "$@" || status=$?
exit "$status"
