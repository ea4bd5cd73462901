#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, AddressSanitizer, UBSan) and runs each of them.
#   tools/fuzz.sh [SECONDS [HARNESS...]]   SECONDS per harness (default 60); all by default
# The corpus each run grows is kept in build/fuzz/corpus/<harness>; the seeds in
# tests/fuzz/corpus/<harness> and, when it is there, ../shared/testdata are read as well.
# A crash or a failed property leaves its input in build/fuzz/artifacts/ and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
secs="${1:-60}"
shift || true
all=(profile_read profile_write crc_database compare_pass preset command_line conversion_table
     dk_setup zip_archive)
harnesses=("$@")
[ "${#harnesses[@]}" -gt 0 ] || harnesses=("${all[@]}")

build="$PWD/build/fuzz"
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVIN_FUZZ=ON \
  -DQUORVIN_BUILD_TESTS=OFF -DQUORVIN_BUILD_BENCH=OFF -DQUORVIN_BUILD_GUI=OFF >/dev/null
targets=()
for h in "${harnesses[@]}"; do targets+=(--target "fuzz_$h"); done
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" "${targets[@]}"

testdata="$PWD/../shared/testdata"
mkdir -p "$build/artifacts"
failed=()
for h in "${harnesses[@]}"; do
  corpus="$build/corpus/$h"
  mkdir -p "$corpus"
  seeds=("$PWD/tests/fuzz/corpus/$h")
  case "$h" in
    profile_read|profile_write|crc_database|conversion_table)
      [ -d "$testdata/mess/crc" ] && seeds+=("$testdata/mess/crc") ;;
  esac
  # Longest input: enough for a real file's worth of lines, small enough to stay quick.
  case "$h" in
    profile_read|profile_write|crc_database|conversion_table) max_len=16384 ;;
    command_line) max_len=1024 ;;
    *) max_len=4096 ;;
  esac
  dict="$PWD/tests/fuzz/$h.dict"
  args=(-max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 -max_len="$max_len"
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$h-")
  [ -f "$dict" ] && args+=(-dict="$dict")
  echo "== $h ($secs s)"
  if ! "$build/tests/fuzz/fuzz_$h" "${args[@]}" "$corpus" "${seeds[@]}" 2>"$build/$h.log"; then
    failed+=("$h")
    tail -n 40 "$build/$h.log"
  fi
  grep -E "^#[0-9]+ +DONE|^stat::number_of_executed_units|^stat::peak_rss_mb" "$build/$h.log" || true
done
if [ "${#failed[@]}" -gt 0 ]; then
  echo "Fuzzing found problems in: ${failed[*]} (inputs in $build/artifacts/)" >&2
  exit 1
fi
echo "All harnesses ran without a finding."
