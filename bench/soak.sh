#!/usr/bin/env bash
# The soak: 10 watched site windows of changing local pages and a hand-over every few seconds for
# 30 minutes (bench/soak.cpp), on a private X server of 1600x1000 with a window manager. Prints the
# process tree's PSS every minute, its growth per hour after the warm-up, and the lost hand-overs.
# Needs Xvfb, openbox and wmctrl (apt-get install xvfb openbox wmctrl). Not a test: it takes the time
# it is given. Build it first with tools/build --bench.
# Usage: bench/soak.sh <build folder> [--minutes N] [--handover-seconds N] [--warmup-minutes N]
set -euo pipefail
build="${1:?build folder}"
shift
for tool in Xvfb openbox wmctrl; do
    command -v "$tool" >/dev/null || { echo "soak.sh: $tool is missing (apt-get install xvfb openbox wmctrl)" >&2; exit 1; }
done
work="$(mktemp -d)"
xvfb= wm=
cleanup() {
    if [ -n "$wm" ]; then kill "$wm" 2>/dev/null || true; fi
    if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
# The server picks a free display and writes its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 1 200); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || { echo "soak.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")" QT_QPA_PLATFORM=xcb
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
for _ in $(seq 1 100); do
    wmctrl -m >/dev/null 2>&1 && break
    sleep 0.1
done
wmctrl -m >/dev/null 2>&1 || { echo "soak.sh: openbox did not start" >&2; exit 1; }
# The engine's sandbox cannot start as root.
if [ "$(id -u)" = 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
"$build/bench/soak" "$build/sources/kestrune" "$@"
