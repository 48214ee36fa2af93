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
# shellcheck source=private-desktop.sh
. "$(dirname "${BASH_SOURCE[0]}")/private-desktop.sh"
start_private_desktop soak.sh
"$build/bench/soak" "$build/sources/kestrune" "$@"
