#!/usr/bin/env bash
# Photographs the real window under a virtual X server (Xvfb) for docs/:
#   docs/window.png          the window on the sample collection's settings
#   docs/window-about.png    the same with the about box beside it
#   docs/window-150.png      the window at 150% scale
#   docs/progress-1.png, docs/progress-2.png
#                            a run over 20,000 small files, a moment apart
# Usage: tools/screenshots.sh [build folder]   (default build/dev; it must hold app/quorvin,
# app/quorvin-cli and tests/ui/quorvin-shot)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/dev}"
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

# 20,000 small files of 4 KB each, all different.
many="$work/many"
mkdir -p "$many"
head -c $((20000 * 4096)) /dev/urandom |
  split -b 4096 -a 5 -d --additional-suffix=.nes - "$many/game "
list="|$many|nes|bulk|20,000 small files||0||$work/many.dat||1|1|1|1|1"
# Photograph the run over and over while it lasts, then keep the first and the middle picture
# that show the progress bar. A run that was too quick for two pictures is tried again.
for attempt in 1 2 3; do
  rm -f "$work"/progress-*.full.png
  xvfb-run -a -s "-screen 0 1800x1100x24" bash -c '
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
rm -rf "$work"
echo "Wrote docs/window.png docs/window-about.png docs/window-150.png docs/progress-1.png docs/progress-2.png"
