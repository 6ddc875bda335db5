#!/usr/bin/env bash
# Runs one command on a private X server (Xvfb, on a display number that is free)
# with the openbox window manager, a D-Bus session bus of its own and a private HOME and XDG
# directories. Everything started here is stopped by PID when the command ends; no other
# display is touched.
set -u
work=$(mktemp -d "${TMPDIR:-/tmp}/penrika-x.XXXXXX")
xvfb_pid=""
wm_pid=""
bus_pid=""
source "$(dirname "${BASH_SOURCE[0]}")/session-end.sh"
cleanup() {
    [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null
    [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    [ -n "$wm_pid" ] && wait "$wm_pid" 2>/dev/null
    [ -n "$bus_pid" ] && wait "$bus_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && wait "$xvfb_pid" 2>/dev/null
    # What the bus started (the desktop portals, where installed) ends a moment after it.
    end_leftovers "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP

# Take the first display number that is free; the server's lock file must name our server
# (another run may have taken the same number in the same instant: then try the next).
display=""
for n in $(seq 20 199); do
    [ -e "/tmp/.X${n}-lock" ] || [ -e "/tmp/.X11-unix/X${n}" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -dpi 96 -nolisten tcp -noreset 2>"$work/xvfb.log" &
    xvfb_pid=$!
    for _ in $(seq 1 200); do
        [ -S "/tmp/.X11-unix/X${n}" ] && [ -s "/tmp/.X${n}-lock" ] && break
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.05
    done
    # No lock file at all when that Xvfb gave up at once (the display is taken elsewhere).
    lock_pid=$({ tr -d ' \n' <"/tmp/.X${n}-lock"; } 2>/dev/null)
    if kill -0 "$xvfb_pid" 2>/dev/null && [ "$lock_pid" = "$xvfb_pid" ]; then
        display=$n
        break
    fi
    kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; xvfb_pid=""
done
if [ -z "$display" ]; then
    echo "with-x: could not start Xvfb on a free display" >&2; cat "$work/xvfb.log" >&2; exit 1
fi
export DISPLAY=":$display"

mkdir -p "$work/home" "$work/config" "$work/data" "$work/cache" "$work/run"
chmod 700 "$work/run"
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
    XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work/run"
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY XDG_SESSION_TYPE SESSION_MANAGER DBUS_SESSION_BUS_ADDRESS

# One session bus for everything on this display. Without one, every Qt or GTK program started
# here would fork dbus-launch to find or start a bus, and those buses outlive the display. The
# daemon stays our child, so that it is stopped and reaped like the others; it writes its
# address into a FIFO once it listens. (Input-method sessions of another user start buses of
# their own: tests/e2e/im-session.sh.)
if command -v dbus-daemon >/dev/null; then
    mkdir -m 700 "$work/bus"
    mkfifo "$work/bus.address"
    dbus-daemon --session --nofork --address="unix:dir=$work/bus" --print-address=3 \
        3>"$work/bus.address" >"$work/dbus.log" 2>&1 &
    bus_pid=$!
    address=""
    read -r -t 10 address <"$work/bus.address"
    if [ -z "$address" ]; then
        echo "with-x: the session bus did not start" >&2; cat "$work/dbus.log" >&2; exit 1
    fi
    export DBUS_SESSION_BUS_ADDRESS="$address"
fi

openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm_pid=$!
# Wait for the window manager to announce itself on the root window.
for _ in $(seq 1 200); do
    if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then break; fi
    sleep 0.05
done
if ! xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
    echo "with-x: openbox did not start" >&2; cat "$work/openbox.log" >&2; exit 1
fi

export PENRIKA_TEST_WORK="$work"
"$@" &
child=$!
wait "$child"
rc=$?
exit "$rc"
