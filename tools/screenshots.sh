#!/usr/bin/env bash
# Photographs the real window under a virtual X server (Xvfb) for docs/:
#   docs/window.png          the window on the sample collection's settings
#   docs/window-about.png    the same with the about box beside it
#   docs/window-150.png      the window at 150% scale
#   docs/progress-1.png, docs/progress-2.png
#                            a run over 60,000 small files, a moment apart
#   docs/progress-bytes.png  a run over one 16 GiB file: the bar moves by its bytes
#   docs/window-win32.png    the Windows window (quorvin.exe) under Wine, on the same settings
# Usage: tools/screenshots.sh [build folder] [Windows build folder]   (defaults build/dev and
# build/windows; the first must hold app/quorvin, app/quorvin-cli and tests/ui/quorvin-shot;
# the Windows picture is left out when the second holds no app/quorvin.exe)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/dev}"
winbuild="${2:-build/windows}"
root="$PWD"
# Short paths look better in the pictures than the build folder's.
work="${TMPDIR:-/tmp}/quorvin-sample"
rm -rf "$work"
mkdir -p "$work" docs
cp -r examples/. "$work/"
export QUORVIN_HOME="$work/home"
export MAGICK_TMPDIR="$work"
export XDG_RUNTIME_DIR="$work/runtime"
# A sanitizer build: leave out what leaks inside the desktop libraries themselves.
export LSAN_OPTIONS="suppressions=$root/tests/ui/lsan.supp"
mkdir -p "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# The sample settings become "lastused", the settings the window comes up with, and the
# preset "nes".
"$build/app/quorvin-cli" -save "$work/mess/|$work/roms/nes|nes|nes|Nintendo NES (sample collection)||1|$work/artwork/nes|$work/nes.dat|$work/dk|1|1|1|1|1" 2>/dev/null

shoot() {  # shoot OUTPUT SECONDS COMMAND...: runs COMMAND on a fresh X screen, photographs it
  local out="$1" wait="$2"
  shift 2
  xvfb-run -a -s "-screen 0 1800x1100x24" bash -c '
    "$@" & pid=$!
    sleep "'"$wait"'"
    import -window root "'"$out"'.full.png"
    kill $pid; wait $pid 2>/dev/null || true' _ "$@"
  convert "$out.full.png" -trim +repage "$out"
  rm -f "$out.full.png"
}

shoot docs/window.png 4 "$build/tests/ui/quorvin-shot" --start
shoot docs/window-about.png 3 "$build/tests/ui/quorvin-shot" --about
QT_SCALE_FACTOR=1.5 shoot docs/window-150.png 4 "$build/tests/ui/quorvin-shot" --start

# 60,000 small files of 4 KB each, all different.
many="$work/many"
mkdir -p "$many"
head -c $((60000 * 4096)) /dev/urandom |
  split -b 4096 -a 5 -d --additional-suffix=.nes - "$many/game "
list="|$many|nes|bulk|60,000 small files||0||$work/many.dat||1|1|1|1|1"
# Photograph the run over and over while it lasts, then keep the first and the middle picture
# that show the progress bar. A run that was too quick for two pictures is tried again. One
# reading thread: with the files in the cache a run over all cores is over in a second.
for attempt in 1 2 3; do
  rm -f "$work"/progress-*.full.png
  QUORVIN_THREADS=1 xvfb-run -a -s "-screen 0 1800x1100x24" bash -c '
    "$1" "$2" & pid=$!
    n=0
    while kill -0 $pid 2>/dev/null; do
      n=$((n + 1)); import -window root "$3/progress-$(printf %03d $n).full.png" 2>/dev/null || true
    done
    wait $pid' _ "$build/app/quorvin" "$list" "$work"
  shots=()
  for f in "$work"/progress-*.full.png; do
    [ -s "$f" ] || continue
    # The bar is drawn in the highlight colour; a picture without it came before or after.
    if [ "$(convert "$f" -fuzz 20% -fill black +opaque '#359bdb' -format '%[fx:mean>0]' info:)" = 1 ]; then
      shots+=("$f")
    fi
  done
  [ "${#shots[@]}" -ge 2 ] && break
done
if [ "${#shots[@]}" -lt 2 ]; then
  echo "The run was over before two pictures of its progress were taken" >&2
  exit 1
fi
convert "${shots[0]}" -trim +repage docs/progress-1.png
convert "${shots[$(( ${#shots[@]} / 2 ))]}" -trim +repage docs/progress-2.png

# One huge file (sparse: it takes no room on disk): the bar moves while it is read.
huge="$work/huge"
mkdir -p "$huge"
truncate -s 16G "$huge/Huge Cartridge.nes"
hlist="|$huge|nes|huge|One huge file||0||$work/huge.dat||1|1|1|1|1"
xvfb-run -a -s "-screen 0 1800x1100x24" bash -c '
  "$1" "$2" & pid=$!
  sleep 3
  import -window root "$3/bytes.full.png"
  kill $pid; wait $pid 2>/dev/null || true' _ "$build/app/quorvin" "$hlist" "$work"
convert "$work/bytes.full.png" -trim +repage docs/progress-bytes.png
rm -rf "$huge"
wrote="docs/window.png docs/window-about.png docs/window-150.png docs/progress-1.png docs/progress-2.png docs/progress-bytes.png"

# The Windows window: quorvin.exe under Wine, in a Wine desktop of its own (which draws the
# title bar), on an Xvfb screen. The sample settings are saved by quorvin-cli.exe, with the
# Windows paths of the same folders (Wine shows the Linux file system as drive Z:).
if [ -f "$winbuild/app/quorvin.exe" ]; then
  # The Wine prefix of windowed runs (tools/wine_window.sh tells why).
  export QUORVIN_WINEPREFIX="$root/build/wine-prefix-x11"
  wpath() { printf 'Z:%s' "${1//\//\\}"; }
  w="$(wpath "$work")"
  export QUORVIN_HOME="$w\\home-win"
  mkdir -p "$work/home-win"
  bash tools/wine.sh "$winbuild/app/quorvin-cli.exe" -save "$w\\mess\\|$w\\roms\\nes|nes|nes|Nintendo NES (sample collection)||1|$w\\artwork\\nes|$w\\nes.dat|$w\\dk|1|1|1|1|1" >/dev/null 2>&1
  n=$(( 90 + $$ % 500 ))
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1400x1000x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  sleep 1
  QUORVIN_WINE_DISPLAY=":$n" bash tools/wine.sh explorer /desktop=Quorvin,1100x900 \
    "$(wpath "$root/$winbuild/app/quorvin.exe")" >/dev/null 2>&1 &
  wine_pid=$!
  sleep 10
  DISPLAY=":$n" import -window root "$work/win32.full.png"
  kill "$wine_pid" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
  # The window sits at the desktop's top left: cut away the desktop's plain colour (taken
  # from its bottom right corner) and the black screen around it.
  convert "$work/win32.full.png" -crop 1100x900+0+0 +repage \
    -bordercolor "$(convert "$work/win32.full.png" -format '%[pixel:p{1098,898}]' info:)" \
    -border 1 -fuzz 3% -trim +repage docs/window-win32.png
  wrote="$wrote docs/window-win32.png"
fi
rm -rf "$work"
echo "Wrote $wrote"
