# Sourced by the benchmarks that need a desktop: starts a private X server of 1600x1000 (on a free
# display it picks itself) with openbox, exports DISPLAY, and takes both down when the script ends.
# Call start_private_desktop <name of the calling script>.
start_private_desktop() {
    local who="$1" tool
    for tool in Xvfb openbox wmctrl; do
        command -v "$tool" >/dev/null || { echo "$who: $tool is missing (apt-get install xvfb openbox wmctrl)" >&2; exit 1; }
    done
    desktop_work="$(mktemp -d)"
    desktop_xvfb= desktop_wm=
    trap stop_private_desktop EXIT
    # The server picks a free display and writes its number once it accepts clients.
    Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$desktop_work/display" >/dev/null 2>&1 &
    desktop_xvfb=$!
    for _ in $(seq 1 200); do
        [ -s "$desktop_work/display" ] && break
        sleep 0.1
    done
    [ -s "$desktop_work/display" ] || { echo "$who: Xvfb did not start" >&2; exit 1; }
    export DISPLAY=":$(head -n 1 "$desktop_work/display")" QT_QPA_PLATFORM=xcb
    openbox --sm-disable >/dev/null 2>&1 &
    desktop_wm=$!
    for _ in $(seq 1 100); do
        wmctrl -m >/dev/null 2>&1 && break
        sleep 0.1
    done
    wmctrl -m >/dev/null 2>&1 || { echo "$who: openbox did not start" >&2; exit 1; }
    # The engine's sandbox cannot start as root.
    if [ "$(id -u)" = 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
}

stop_private_desktop() {
    if [ -n "${desktop_wm:-}" ]; then kill "$desktop_wm" 2>/dev/null || true; fi
    if [ -n "${desktop_xvfb:-}" ]; then kill "$desktop_xvfb" 2>/dev/null || true; fi
    if [ -n "${desktop_work:-}" ]; then rm -rf "$desktop_work"; fi
}
