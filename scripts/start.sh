#!/usr/bin/env bash
# Quick start, command one: install what is missing, build, and start Corvane.
# Arguments are passed to the program (for example --data-dir DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
if [ -x build/src/app/corvane ]; then
  exec build/src/app/corvane "$@"
fi
exec build/src/app/corvane-cli --help
