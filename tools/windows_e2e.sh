#!/usr/bin/env bash
# The sample job on examples/, once with the Linux quorvin-cli and once with quorvin-cli.exe
# under Wine (Windows paths: Z:\...\roms\nes), then a revert with each. Every file of the
# two copies must come out the same, byte for byte, once the run's own folder is written
# alike in both; the dat has no paths and must match as it stands.
#   tools/windows_e2e.sh LINUX_CLI WINDOWS_CLI.exe
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
linux_cli="$1"
windows_cli="$2"
work="$root/build/e2e"
rm -rf "$work"
mkdir -p "$work"
cp -r "$root/examples" "$work/linux"
cp -r "$root/examples" "$work/windows"

L="$work/linux"
W="Z:$(printf '%s' "$work/windows" | tr / '\\')"   # the same folder as Windows names it

settings() {  # root separator
  local r="$1" s="$2"
  printf '%s' "$r${s}mess${s}|$r${s}roms${s}nes|nes|nes|Nintendo NES (sample collection)||1|$r${s}artwork${s}nes|$r${s}nes.dat|$r${s}dk|1|1|1|1|1"
}
# The zipped job: the sample's ROMs in archives, no front end.
zip_settings() {  # root separator
  local r="$1" s="$2"
  printf '%s' "$r${s}mess${s}|$r${s}roms${s}zipped|zip|nes|Zipped sample||1|$r${s}artwork${s}nes|$r${s}zipped.dat||0|0|0|0|0"
}
settings_of=settings

fail=0
run_both() {  # label, extra arguments
  local label="$1"
  shift
  # Exit status 3 (done with warnings) is a completed run: the zipped job has a damaged archive.
  local rc=0
  QUORVIN_HOME="$L/home" "$linux_cli" "$@" "$("$settings_of" "$L" /)" > "$work/$label-linux.log" 2>&1 || rc=$?
  [ "$rc" -eq 0 ] || [ "$rc" -eq 3 ] ||
    { echo "Linux run ($label) failed:"; cat "$work/$label-linux.log"; fail=1; }
  rc=0
  QUORVIN_HOME="$W\\home" bash "$root/tools/wine.sh" "$windows_cli" "$@" "$("$settings_of" "$W" '\')" \
    > "$work/$label-windows.log" 2>&1 || rc=$?
  [ "$rc" -eq 0 ] || [ "$rc" -eq 3 ] ||
    { echo "Windows run ($label) failed:"; cat "$work/$label-windows.log"; fail=1; }
  # The status texts must match too, but for the line ends (Windows writes CR LF to the
  # console) and the separator of the paths they name. Lines of Wine's own ("wine: ...", such
  # as a helper process of Wine's failing without a display) are not the program's.
  # Warnings name the files concerned: the run's own folder is written "<ROOT>" in both.
  if ! diff <(tr -d '\r' < "$work/$label-windows.log" | grep -av '^wine: ' | tr '\\' / |
              sed "s|Z:$work/windows|<ROOT>|g") \
       <(sed "s|$L|<ROOT>|g" "$work/$label-linux.log"); then
    echo "The status texts of the $label runs differ"
    fail=1
  fi
}

# Writes the run's own folder alike in both copies: "<ROOT>" for it (front-end files hold it
# upper-cased), "/" for the separators inside such a path.
normalize() {  # file root
  local upper
  upper="$(printf '%s' "$2" | tr '[:lower:]' '[:upper:]')"
  # (The roots go in through the environment: awk -v would take their "\" for escapes.)
  E2E_ROOT="$2" E2E_UPPER="$upper" awk '
    function swap(line, from,   out, at, rest, seg, end) {
      out = ""
      while ((at = index(line, from)) > 0) {
        out = out substr(line, 1, at - 1) "<ROOT>"
        rest = substr(line, at + length(from))
        end = match(rest, /[;|\r]/)
        seg = end ? substr(rest, 1, end - 1) : rest
        gsub(/\\/, "/", seg)
        out = out seg
        line = end ? substr(rest, end) : ""
      }
      return out line
    }
    { print swap(swap($0, ENVIRON["E2E_ROOT"]), ENVIRON["E2E_UPPER"]) }' "$1" > "$1.normal"
  mv "$1.normal" "$1"
}

compare() {  # label
  local label="$1"
  rm -rf "$work/$label"
  mkdir -p "$work/$label"
  cp -r "$L" "$work/$label/linux"
  cp -r "$work/windows" "$work/$label/windows"
  for f in dk/dirs.ini home/presets/nes.pre home/presets/lastused.pre; do
    [ -f "$work/$label/linux/$f" ] && normalize "$work/$label/linux/$f" "$L"
    [ -f "$work/$label/windows/$f" ] && normalize "$work/$label/windows/$f" "$W"
  done
  # The CRC cache records each side's own paths, file numbers and times.
  if diff -r -x 'crccache.db*' "$work/$label/linux" "$work/$label/windows"; then
    echo "$label: the Linux and the Windows copies are the same"
  else
    echo "$label: the Linux and the Windows copies differ"
    fail=1
  fi
}

run_both start -save
compare after-start
# The front end gets Windows paths: the folders as given, upper-cased, with "\".
if ! grep -qF "$(printf '%s' "$W\\ROMS\\NES" | tr '[:lower:]' '[:upper:]')" "$work/windows/dk/dirs.ini"; then
  echo "dirs.ini does not hold the Windows path of the ROM folder:"
  cat "$work/windows/dk/dirs.ini"
  fail=1
fi
cmp "$L/nes.dat" "$work/windows/nes.dat" && echo "nes.dat: byte for byte the same"

run_both revert --revert
compare after-revert
for side in linux windows; do
  if ! diff -r "$root/examples/roms" "$work/$side/roms" > /dev/null ||
     ! diff -r "$root/examples/artwork" "$work/$side/artwork" > /dev/null; then
    echo "$side: the revert did not give every file its first name back"
    fail=1
  fi
done

# Zipped ROMs: each sample ROM in an archive of its own (one archive holding two), written
# alike for both sides (fixed dates), and one damaged archive; the same dat, renames and
# reverts on both.
for side in "$L" "$work/windows"; do
  mkdir -p "$side/roms/zipped"
  python3 - "$root/examples/roms/nes" "$side/roms/zipped" <<'PY'
import os, sys, zipfile
src, dst = sys.argv[1], sys.argv[2]
names = sorted(os.listdir(src))
def add(archive, members, method=zipfile.ZIP_DEFLATED):
    with zipfile.ZipFile(os.path.join(dst, archive), "w", method) as z:
        for m in members:
            info = zipfile.ZipInfo(m, date_time=(2000, 1, 1, 0, 0, 0))
            info.compress_type = method
            with open(os.path.join(src, m), "rb") as f:
                z.writestr(info, f.read())
for n in names[2:]:
    add(n[:-4] + ".zip", [n])
add("pair.zip", names[:2], zipfile.ZIP_STORED)
with open(os.path.join(dst, "broken.zip"), "wb") as f:
    f.write(b"PK\x03\x04 not really an archive")
PY
done
zipped_before="$(cd "$L/roms/zipped" && ls)"
settings_of=zip_settings
run_both zip-start --verify
compare after-zip-start
cmp "$L/zipped.dat" "$work/windows/zipped.dat" && echo "zipped.dat: byte for byte the same"
grep -q 'broken.zip' "$work/zip-start-linux.log" ||
  { echo "the damaged archive was not reported"; fail=1; }
run_both zip-revert --revert
compare after-zip-revert
for side in linux windows; do
  if [ "$(cd "$work/$side/roms/zipped" && ls)" != "$zipped_before" ]; then
    echo "$side: the revert did not give every archive its first name back"
    fail=1
  fi
done
exit "$fail"
