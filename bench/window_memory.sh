#!/usr/bin/env bash
# Memory after closing site windows: PSS of Kestrune's process tree with 1 site window, with 10 more,
# and after closing those 10 (bench/window_memory.cpp), on a private X server of 1600x1000 with a
# window manager that closes the windows as their close boxes would.
# Needs Xvfb, openbox and wmctrl (apt-get install xvfb openbox wmctrl); --probe-trim needs gdb.
# Usage: bench/window_memory.sh <build folder> [--repeat N] [--settle-seconds N] [--cycles N] [--probe-trim]
# The program draws as it chooses on this machine: in software without a graphics card.
# KESTRUNE_RENDERING=opengl makes it draw through OpenGL (Mesa's software OpenGL on Xvfb), whose
# buffers live in this process's heap as they partly do with a real card's driver.
set -euo pipefail
build="${1:?build folder}"
shift
for tool in Xvfb openbox wmctrl; do
    command -v "$tool" >/dev/null || { echo "window_memory.sh: $tool is missing (apt-get install xvfb openbox wmctrl)" >&2; exit 1; }
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
[ -s "$work/display" ] || { echo "window_memory.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")" QT_QPA_PLATFORM=xcb
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
for _ in $(seq 1 100); do
    wmctrl -m >/dev/null 2>&1 && break
    sleep 0.1
done
wmctrl -m >/dev/null 2>&1 || { echo "window_memory.sh: openbox did not start" >&2; exit 1; }
# The engine's sandbox cannot start as root.
if [ "$(id -u)" = 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
"$build/bench/window_memory" "$build/sources/kestrune" "$@"
