#!/usr/bin/env bash
# Quick start, command two: install what is missing, build, start the loopback test servers
# and run every test.
#   BUILD_DIR, CMAKE_ARGS  as for setup.sh
#   CTEST_ARGS             extra arguments for ctest (for example -L core)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build_dir=${BUILD_DIR:-build}
if [ -x scripts/test-servers.sh ]; then
  # The servers' addresses and ports are written to $build_dir/test-servers.env, which the
  # end-to-end tests read.
  # The trap is set first, so that servers already started are stopped when a later one fails.
  trap 'scripts/test-servers.sh stop "$build_dir"' EXIT
  scripts/test-servers.sh start "$build_dir"
fi
export CORVANE_MAIL_CORPUS=$PWD/.cache/mail-corpus/package/data
# shellcheck disable=SC2086
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" ${CTEST_ARGS:-}
