#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 60) on a copy
# of its seed corpus in fuzz/corpus/<target>/, with the seeds that cross every size limit
# (made by fuzz/limit_seeds.py).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
BUILD_DIR=build-fuzz \
  CMAKE_ARGS="-DCMAKE_CXX_COMPILER=clang++-14 -DCORVANE_BUILD_FUZZERS=ON -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCHMARKS=OFF" \
  scripts/setup.sh --tests
rm -rf build-fuzz/limit-seeds
python3 fuzz/limit_seeds.py build-fuzz/limit-seeds
for exe in build-fuzz/fuzz/fuzz_*; do
  [ -f "$exe" ] && [ -x "$exe" ] || continue
  name=$(basename "$exe")
  corpus=build-fuzz/corpus-$name
  rm -rf "$corpus" && mkdir -p "$corpus"
  cp -r fuzz/corpus/"${name#fuzz_}"/. "$corpus"/ 2>/dev/null || true
  cp -r build-fuzz/limit-seeds/"${name#fuzz_}"/. "$corpus"/ 2>/dev/null || true
  # Messages and POP3 sessions get inputs large enough to cross every size limit (lines of
  # 16,384 characters, header size, parts, decoded size: see MessageLimits in the fuzz build).
  case $name in
    fuzz_message | fuzz_pop3reply) max_len=262144 ;;
    *) max_len=65536 ;;
  esac
  echo "-- $name for ${seconds}s, inputs up to $max_len bytes"
  "$exe" -max_total_time="$seconds" -max_len="$max_len" -rss_limit_mb=4096 \
    -print_final_stats=1 "$corpus"
done
