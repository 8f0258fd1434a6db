#!/usr/bin/env bash
# Quick start, command one: install what building and running Corvane needs (none of the test
# servers or tools), build the two programs, and start Corvane with its data in the user's data
# folder. Arguments are passed to the program (for example --data-dir DIR).
#   BUILD_DIR, CMAKE_ARGS  as for setup.sh
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
# Only the programs are built here; scripts/test.sh builds the tests and benchmarks.
BUILD_TARGETS="corvane corvane-cli" scripts/setup.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "Corvane is built, but no desktop session was found (DISPLAY and WAYLAND_DISPLAY are" >&2
  echo "unset), so its window cannot open here. On a server or over ssh, use the command-line" >&2
  echo "tool instead:  $build_dir/src/app/corvane-cli --help" >&2
  exit 1
fi
exec "$build_dir"/src/app/corvane "$@"
