#!/usr/bin/env bash
# Quick start, command two: install what is missing (the test bed too), build, start the
# loopback test servers and run every test. A test that could not run shows as skipped, never
# as passed; under CI=true a skipped test fails the run.
#   BUILD_DIR, CMAKE_ARGS  as for setup.sh
#   CTEST_ARGS             extra arguments for ctest (for example -L core)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --tests
build_dir=${BUILD_DIR:-build}
if [ -x scripts/test-servers.sh ]; then
  # The servers' addresses and ports are written to $build_dir/test-servers.env, which the
  # end-to-end tests read.
  # The trap is set first, so that servers already started are stopped when a later one fails.
  trap 'scripts/test-servers.sh stop "$build_dir"' EXIT
  scripts/test-servers.sh start "$build_dir"
fi
export CORVANE_MAIL_CORPUS=$PWD/.cache/mail-corpus/package/data
log=$build_dir/ctest.log
status=0
# shellcheck disable=SC2086
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" ${CTEST_ARGS:-} 2>&1 |
  tee "$log" || status=$?
[ "$status" -eq 0 ] || exit "$status"
# ctest counts a skipped test as no failure; its summary names them under this heading.
if [ "${CI:-}" = true ] && grep -q '^The following tests did not run:' "$log"; then
  echo "test.sh: tests were skipped (listed above); in CI every test must run" >&2
  exit 1
fi
