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
# shellcheck source=private-desktop.sh
. "$(dirname "${BASH_SOURCE[0]}")/private-desktop.sh"
start_private_desktop window_memory.sh
"$build/bench/window_memory" "$build/sources/kestrune" "$@"
