#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and builds Quorvin.
#   tools/setup.sh demo   install what is missing, build, run the sample job on examples/
#   tools/setup.sh test   install what is missing, build with sanitizers, run every test;
#                         then build for Windows and run the core tests and the window's
#                         tests under Wine (the window on an Xvfb display)
#   tools/setup.sh bench  install what is missing, build for speed, time the CRC tiers and the
#                         scan against a plain read and other CRC-32 tools (bench/compare.py;
#                         options after "bench" go to it, e.g. --cold --big 8, or --zip
#                         for the zipped collections)
#   tools/setup.sh windows  install the cross tool-chain, build quorvin.exe (the window) and
#                         quorvin-cli.exe, and pack
#                         build/windows/quorvin-windows-x64.zip
set -euo pipefail
cd "$(dirname "$0")/.."
mode="${1:-}"
case "$mode" in demo|test|bench|windows) ;; *) echo "usage: tools/setup.sh demo|test|bench|windows" >&2; exit 2 ;; esac
shift || true

# qt6-base-dev: the window and its tests (Qt Widgets, Qt Test, the offscreen platform).
# xvfb, xauth, imagemagick: tools/screenshots.sh, which makes the pictures in docs/; xvfb
# also gives the Windows window's tests under Wine a display.
# libzip-dev: reading zipped ROMs (the fuzz harnesses link it; the programs link a static
# libzip built from Debian's source package, see libzip_native). dpkg-dev: apt-get source
# unpacks Debian's source packages with it. libsqlite3-dev: the CRC cache (src/cache/).
packages=(cmake make g++ libgtest-dev libgmock-dev zlib1g-dev libpugixml-dev libzip-dev
          libsqlite3-dev qt6-base-dev xvfb xauth imagemagick dpkg-dev)
# The benchmark compares with these tools and measures peak memory with GNU time; unzip and
# 7z also list and test the zipped collections (bench/compare.py --zip).
if [ "$mode" = bench ]; then packages+=(rhash p7zip-full unzip python3 time); fi
# The Windows build: Debian's mingw-w64 cross compiler (the posix-threads variant, for
# std::thread), zlib for the tests' CRC checks, Wine to run the tests, zip for the package.
if [ "$mode" = test ] || [ "$mode" = windows ]; then
  # tcl: SQLite's source tree makes its one-file sqlite3.c with tclsh.
  packages+=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 wine zip tcl)
fi
# clang, libclang-rt-14-dev: the libFuzzer harnesses of tests/fuzz (tools/fuzz.sh).
# libxml2-utils: xmllint, with which the tests validate XML dats against the format's DTD.
if [ "$mode" = test ]; then packages+=(clang libclang-rt-14-dev libxml2-utils); fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

jobs="$(nproc 2>/dev/null || echo 2)"

# Debian has no mingw build of some libraries the Windows build needs; their Debian source
# packages are fetched with apt-get source and built with our cross tool-chain, once, under
# build/deps. The deb-src entry and the package lists live in build/deps/apt, an apt set-up of
# our own: the machine's apt configuration is left alone, and because those lists start empty
# on every fresh clone, CI fetches every source package the way a new machine does (a step
# that only worked because something was left on the machine fails there).
deps="$PWD/build/deps"
apt_src_opts=()
apt_sources() {
  local d="$deps/apt"
  mkdir -p "$d/parts" "$d/lists/partial"
  if [ ! -s "$d/parts/src.sources" ] && [ ! -s "$d/parts/src.list" ]; then
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources > "$d/parts/src.sources"
    fi
    if [ -f /etc/apt/sources.list ]; then
      sed -n 's/^deb \(.*\)$/deb-src \1/p' /etc/apt/sources.list > "$d/parts/src.list"
    fi
  fi
  # gpgv named by its path: apt-key, run by apt's download method, may not find it on the
  # PATH it is given ("gpgv, gpgv2 or gpgv1 required for verification"), and apt then
  # refuses the lists as unsigned. apt itself depends on gpgv, so the file is there.
  apt_src_opts=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$d/parts"
                -o Dir::State::Lists="$d/lists" -o Apt::Key::gpgvcommand=/usr/bin/gpgv)
  # Always read the lists before a download: they may be empty or out of date.
  apt-get "${apt_src_opts[@]}" update -q
}
# Unpacks Debian's source package $1 under build/deps/src (once) and prints its folder.
source_package() {
  local name="$1" dir
  dir="$(find "$deps/src" -mindepth 1 -maxdepth 1 -type d -name "$name-[0-9]*" 2>/dev/null | head -n 1)"
  if [ -z "$dir" ]; then
    apt_sources >&2
    mkdir -p "$deps/src"
    # As root apt warns that the download is "performed unsandboxed": harmless here.
    (cd "$deps/src" && apt-get "${apt_src_opts[@]}" source -q "$name") >&2
    dir="$(find "$deps/src" -mindepth 1 -maxdepth 1 -type d -name "$name-[0-9]*" | head -n 1)"
    [ -n "$dir" ] || { echo "apt-get source $name gave no source folder" >&2; exit 1; }
  fi
  echo "$dir"
}

# libzip for Windows: Debian's source package built as a static library with our cross
# tool-chain (zlib from libz-mingw-w64-dev; the Windows crypto API for what libzip encrypts,
# which we never use), once, installed under build/deps/libzip-mingw. Prints that folder.
libzip_windows() {
  local prefix="$deps/libzip-mingw" src
  if [ ! -f "$prefix/lib/libzip.a" ] || [ ! -f "$prefix/include/zip.h" ]; then
    src="$(source_package libzip)"
    rm -rf "$deps/libzip-build" "$prefix"
    {
      cmake -S "$src" -B "$deps/libzip-build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
        -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF -DENABLE_GNUTLS=OFF \
        -DENABLE_OPENSSL=OFF -DENABLE_MBEDTLS=OFF -DENABLE_WINDOWS_CRYPTO=ON -DBUILD_TOOLS=OFF \
        -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF
      cmake --build "$deps/libzip-build" -j "$jobs"
      cmake --install "$deps/libzip-build"
    } >&2
  fi
  echo "$prefix"
}

# libzip for the Linux programs: Debian's source package built once as a static library,
# installed under build/deps/libzip-native, without libzip's crypto, bzip2, LZMA and zstd
# back ends, as the Windows build is. Debian's shared libzip loads libcrypto, and loading it
# costs about 4.5 ms of every run's start, a third of a re-run that the CRC cache serves; we
# never decrypt (an encrypted member is reported as one that cannot be checked). Prints the
# folder.
libzip_native() {
  local prefix="$deps/libzip-native" src
  if [ ! -f "$prefix/lib/libzip.a" ] || [ ! -f "$prefix/include/zip.h" ]; then
    src="$(source_package libzip)"
    rm -rf "$deps/libzip-native-build" "$prefix"
    {
      cmake -S "$src" -B "$deps/libzip-native-build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib -DBUILD_SHARED_LIBS=OFF \
        -DCMAKE_POSITION_INDEPENDENT_CODE=ON -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF \
        -DENABLE_ZSTD=OFF -DENABLE_GNUTLS=OFF -DENABLE_OPENSSL=OFF -DENABLE_MBEDTLS=OFF \
        -DENABLE_COMMONCRYPTO=OFF -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF \
        -DBUILD_DOC=OFF
      cmake --build "$deps/libzip-native-build" -j "$jobs"
      cmake --install "$deps/libzip-native-build"
    } >&2
  fi
  echo "$prefix"
}

# SQLite's one-file source (sqlite3.c and sqlite3.h) under build/deps/sqlite, made once, and
# its folder printed. Debian's source package holds SQLite's full tree, not that one file: a
# native configure and `make sqlite3.c` make it (host tools and tclsh run on the way, so the
# configure is not a cross one). The Windows build compiles the file (src/CMakeLists.txt).
sqlite_source() {
  local out="$deps/sqlite" work="$deps/sqlite-make" src
  if [ ! -s "$out/sqlite3.c" ] || [ ! -s "$out/sqlite3.h" ]; then
    src="$(source_package sqlite3)" || exit 1
    rm -rf "$work"
    mkdir -p "$work" "$out"
    (cd "$work" && "$src/configure" >/dev/null && make -s sqlite3.c >/dev/null) >&2
    cp "$work/sqlite3.c" "$work/sqlite3.h" "$out/"
    rm -rf "$work"
  fi
  echo "$out"
}

# The Windows build of the core, quorvin-cli.exe and the tests, in build/windows.
build_windows() {
  # pugixml: its one source file, compiled into the program (src/CMakeLists.txt).
  local pugi sqlite
  pugi="$(source_package pugixml)/src"
  # libzip: zipped ROMs. SQLite: the CRC cache.
  local libzip
  libzip="$(libzip_windows)"
  sqlite="$(sqlite_source)"
  cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DQUORVIN_WERROR=ON -DQUORVIN_PUGIXML_DIR="$pugi" \
    -DQUORVIN_LIBZIP_DIR="$libzip" -DQUORVIN_SQLITE_DIR="$sqlite" "$@"
  cmake --build build/windows -j "$jobs" --target quorvin quorvin-cli "${windows_targets[@]}"
  # The package: the window, the headless program and the read-me (with Windows line ends).
  # Both programs are linked statically: no DLL goes with them.
  local pkg=build/windows/package
  rm -rf "$pkg" build/windows/quorvin-windows-x64.zip
  mkdir -p "$pkg"
  cp build/windows/app/quorvin.exe build/windows/app/quorvin-cli.exe "$pkg/"
  sed 's/\r*$/\r/' packaging/windows/readme.txt > "$pkg/readme.txt"
  (cd "$pkg" && zip -q -X ../quorvin-windows-x64.zip quorvin.exe quorvin-cli.exe readme.txt)
  echo "Packed build/windows/quorvin-windows-x64.zip"
}

if [ "$mode" = windows ]; then
  windows_targets=()
  build_windows -DQUORVIN_BUILD_TESTS=OFF
  exit 0
fi

# Tests that read the shared test data (../shared/testdata, or $QUORVIN_TESTDATA) skip
# without it, and CTest still says "100% tests passed": say how many did, from the log of the
# ctest run in folder $1 ($2 names the suite).
report_skipped() {
  local log="$1/Testing/Temporary/LastTest.log" n=0
  [ -f "$log" ] && n="$(grep -c 'shared test data not found' "$log" || true)"
  if [ "$n" -gt 0 ]; then
    echo "NOTE ($2): $n tests skipped for want of the shared test data" \
         "(${QUORVIN_TESTDATA:-../shared/testdata} not found; see \"Test data\" in README.md)"
  else
    echo "($2) no test skipped for want of the shared test data"
  fi
}

# The release build: quorvin-cli as one static executable (see QUORVIN_STATIC_CLI), the window,
# and with "bench" the benchmarks.
configure_release() {
  cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DQUORVIN_BUILD_TESTS=OFF \
    -DQUORVIN_LIBZIP_DIR="$(libzip_native)" -DQUORVIN_STATIC_CLI=ON
}

# The main job on a copy of examples/ in folder $2, run by the quorvin-cli at $1: the sample
# files in examples/ stay as they are.
demo_job() {
  local cli="$1" demo="$2" demo_settings
  rm -rf "$demo"
  mkdir -p "$demo"
  cp -r examples/. "$demo/"
  demo_settings="$demo/mess/|$demo/roms/nes|nes|nes|Nintendo NES (sample collection)||1|$demo/artwork/nes|$demo/nes.dat|$demo/dk|1|1|1|1|1"
  QUORVIN_HOME="$demo/home" "$cli" -save "$demo_settings"
}

if [ "$mode" = test ]; then
  cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DQUORVIN_WERROR=ON -DQUORVIN_SANITIZE=ON \
    -DQUORVIN_LIBZIP_DIR="$(libzip_native)"
  cmake --build build/test -j "$jobs"
  (cd build/test && ctest --output-on-failure -j "$jobs" --timeout 300)
  report_skipped build/test "Linux tests"
  # quorvin-cli as the demo and the README build it (optimised, static) does the sample job
  # exactly as the tested build does: the same files, byte for byte.
  configure_release
  cmake --build build/release -j "$jobs" --target quorvin-cli
  rm -rf build/check-tested
  demo_job build/test/app/quorvin-cli "$PWD/build/check" >/dev/null 2>&1
  mv build/check build/check-tested
  demo_job build/release/app/quorvin-cli "$PWD/build/check" >/dev/null 2>&1
  # The CRC cache holds each copy's own inodes and times, and the second of its run.
  diff -r -x 'crccache.db*' build/check-tested build/check
  echo "The release quorvin-cli did the sample job as the tested one did"
  # The same core built for Windows, its tests run under Wine; our profile reader and writer
  # compared with the platform's own (Wine's) GetPrivateProfileStringA and
  # WritePrivateProfileStringA; and the sample job run by quorvin-cli.exe compared file by
  # file with the Linux program's run.
  windows_targets=(quorvin_tests quorvin_profile_diff quorvin_win32_view_tests)
  build_windows -DQUORVIN_BUILD_TESTS=ON -DQUORVIN_LINUX_CLI="$PWD/build/test/app/quorvin-cli"
  (cd build/windows && ctest --output-on-failure --timeout 300)
  report_skipped build/windows "Windows tests under Wine"
  # A short run of every fuzzer, so that they keep building and running.
  bash tools/fuzz.sh 15
  exit 0
fi

if [ "$mode" = bench ]; then
  configure_release
  cmake --build build/release -j "$jobs" --target quorvin-cli quorvin-read quorvin-stat quorvin-bench
  build/release/bench/quorvin-bench crc
  echo
  exec /usr/bin/python3 bench/compare.py --build build/release "$@"
fi

configure_release
cmake --build build/release -j "$jobs" --target quorvin-cli quorvin
demo="$PWD/build/demo"
export QUORVIN_HOME="$demo/home"
echo "+ quorvin-cli -save '$demo/mess/|$demo/roms/nes|nes|nes|...'"
demo_job build/release/app/quorvin-cli "$demo"
echo
echo "== $demo/nes.dat"
cat "$demo/nes.dat"
echo "== the ROM folder now"
ls "$demo/roms/nes"
echo
echo "Saved preset: $QUORVIN_HOME/presets/nes.pre; run it again with:"
echo "  QUORVIN_HOME=$QUORVIN_HOME build/release/app/quorvin-cli -preset nes"
echo "or open the window on the same settings (pick \"nes\" under Load Exsisting Preset):"
echo "  QUORVIN_HOME=$QUORVIN_HOME build/release/app/quorvin"
