#!/usr/bin/env bash
# Takes screenshots of the main window with a scanned mailbox (a fake POP3 server, no network),
# of the Rules and Lists window, the Welcome window, the options window (with its Submitting tab),
# the saved e-mails window and the update window under Xvfb, at 100 % and at 200 % display
# scaling, into docs/screenshots/.
#   BUILD_DIR  the build directory (default: build); the GUI tests must be built there
# Needs the packages xvfb and xauth.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
target=$(pwd)/docs/screenshots
test_program=$build_dir/tests/ui_tst_lookandfeel
cmake --build "$build_dir" --target ui_tst_lookandfeel
mkdir -p "$target"
for scale in 1 2; do
  width=$((1280 * scale)) height=$((900 * scale))
  CORVANE_SCREENSHOT_DIR=$target QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale \
    xvfb-run -a -s "-screen 0 ${width}x${height}x24" \
    "$test_program" mainWindowWithScannedMailbox rulesAndListsWindow welcomeWindowPages \
    setupWindow archiveWindow listExchangeWindows >/dev/null
done
ls "$target"
