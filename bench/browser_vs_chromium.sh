#!/usr/bin/env bash
# Site windows of Kestrune against Chromium's app mode (when installed), on a private X server.
# Usage: bench/browser_vs_chromium.sh <build folder> [--repeat N] [--idle-seconds N] [--maximised]
# --maximised: every window maximised, on a private desktop of 1600x1000 with openbox (needs
# openbox and wmctrl); else a bare X server of 1600x1200 without a window manager.
set -euo pipefail
build="${1:?build folder}"
shift
if [[ " $* " == *" --maximised "* ]]; then
    # shellcheck source=private-desktop.sh
    . "$(dirname "${BASH_SOURCE[0]}")/private-desktop.sh"
    start_private_desktop browser_vs_chromium.sh
else
    display=":$((90 + RANDOM % 9))"
    Xvfb "$display" -screen 0 1600x1200x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    trap 'kill $xvfb 2>/dev/null || true' EXIT
    sleep 1
    export DISPLAY="$display" QT_QPA_PLATFORM=xcb
fi
# The engine's sandbox cannot start as root; the GPU is off for both browsers alike.
if [ "$(id -u)" = 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu"
chromium_bin="$(command -v chromium || true)"
# A benchmark build prints the steps of each start and window opening.
"$build/bench/browser_timing" "$build/sources/kestrune" ${chromium_bin:+"$chromium_bin"} "$@"
