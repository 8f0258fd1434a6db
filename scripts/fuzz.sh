#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 60) on a copy
# of its seed corpus in fuzz/corpus/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
BUILD_DIR=build-fuzz \
  CMAKE_ARGS="-DCMAKE_CXX_COMPILER=clang++-14 -DCORVANE_BUILD_FUZZERS=ON -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCHMARKS=OFF" \
  scripts/setup.sh
for exe in build-fuzz/fuzz/fuzz_*; do
  [ -f "$exe" ] && [ -x "$exe" ] || continue
  name=$(basename "$exe")
  corpus=build-fuzz/corpus-$name
  rm -rf "$corpus" && mkdir -p "$corpus"
  cp -r fuzz/corpus/"${name#fuzz_}"/. "$corpus"/ 2>/dev/null || true
  echo "-- $name for ${seconds}s"
  "$exe" -max_total_time="$seconds" -rss_limit_mb=4096 -print_final_stats=1 "$corpus"
done
