#!/usr/bin/env bash
# Runs one command in a private headless sway session: one 1280x800 output, Xwayland, a minimal
# configuration of its own (no bar, no borders), a D-Bus session bus of its own and a private
# HOME and XDG directories. sway refuses to run as root: it runs as $PENRIKA_E2E_USER, else
# "nobody" (the input-method sessions' user), the command as ourselves, who can reach its
# sockets. The command finds WAYLAND_DISPLAY (an absolute path: programs that get another
# XDG_RUNTIME_DIR still reach it), XDG_RUNTIME_DIR, DISPLAY (sway's Xwayland), SWAYSOCK,
# DBUS_SESSION_BUS_ADDRESS and PENRIKA_WAYLAND_SESSION=sway. Everything started here is stopped
# by PID when the command ends; the exit status is the command's. When the command fails, the end
# of sway's log follows its output (PENRIKA_SWAY_DEBUG=1: sway's debug log).
set -u
work=$(mktemp -d "${TMPDIR:-/tmp}/penrika-sway.XXXXXX")
sway_pid=""
bus_pid=""
source "$(dirname "${BASH_SOURCE[0]}")/session-end.sh"
cleanup() {
    [ -n "$sway_pid" ] && kill "$sway_pid" 2>/dev/null
    [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null
    [ -n "$sway_pid" ] && wait "$sway_pid" 2>/dev/null
    [ -n "$bus_pid" ] && wait "$bus_pid" 2>/dev/null
    # sway starts Xwayland (and what its configuration runs) detached from itself; they are
    # stopped by PID if still there.
    end_leftovers "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP
fail() {
    echo "sway-session: $1" >&2
    [ -f "$work/sway.log" ] && tail -n 40 "$work/sway.log" >&2
    exit 1
}

# sway's user, and what it must reach: its runtime directory inside our work folder.
if [ "$(id -u)" -eq 0 ]; then
    user=${PENRIKA_E2E_USER:-nobody}
    uid=$(id -u "$user" 2>/dev/null) || fail "no user $user to run sway"
    gid=$(id -g "$user")
    as_user=(setpriv --reuid="$uid" --regid="$gid" --clear-groups --)
else
    uid=$(id -u)
    gid=$(id -g)
    as_user=()
fi
chmod 711 "$work"
mkdir -p "$work/home" "$work/config" "$work/data" "$work/cache" "$work/run"
chown "$uid:$gid" "$work/run"
chmod 700 "$work/run"
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
    XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work/run"
unset DISPLAY WAYLAND_DISPLAY WAYLAND_SOCKET SWAYSOCK I3SOCK QT_QPA_PLATFORM GDK_BACKEND \
    SESSION_MANAGER DBUS_SESSION_BUS_ADDRESS
export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=sway

# One session bus for everything in the session, as in with-x.sh; sway's user may use it too.
if command -v dbus-daemon >/dev/null; then
    mkdir -m 711 "$work/bus"
    cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <include>/usr/share/dbus-1/session.conf</include>
  <policy context="default"><allow user="$uid"/></policy>
</busconfig>
CONF
    mkfifo "$work/bus.address"
    dbus-daemon --config-file="$work/bus.conf" --nofork --address="unix:dir=$work/bus" \
        --print-address=3 3>"$work/bus.address" >"$work/dbus.log" 2>&1 &
    bus_pid=$!
    address=""
    read -r -t 10 address <"$work/bus.address"
    if [ -z "$address" ]; then
        cat "$work/dbus.log" >&2; fail "the session bus did not start"
    fi
    export DBUS_SESSION_BUS_ADDRESS="$address"
fi

# Windows float at the size they ask for, as on a desktop with a stacking window manager, and
# wear no decorations of sway's: what a client draws is all there is of it.
cat >"$work/sway.config" <<'EOF'
output HEADLESS-1 mode 1280x800 position 0 0 scale 1
default_border none
default_floating_border none
floating_maximum_size -1 x -1
focus_follows_mouse no
xwayland enable
swaynag_command -
for_window [app_id=".*"] floating enable
for_window [class=".*"] floating enable
EOF
export SWAYSOCK="$work/run/sway-ipc.sock" PENRIKA_TEST_WORK="$work"
WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 WLR_HEADLESS_OUTPUTS=1 \
    "${as_user[@]}" sway ${PENRIKA_SWAY_DEBUG:+-d} --config "$work/sway.config" >"$work/sway.log" 2>&1 &
sway_pid=$!

# Up once it answers on its IPC socket, served by the same loop as its Wayland socket.
for _ in $(seq 1 400); do
    kill -0 "$sway_pid" 2>/dev/null || fail "sway ended while starting"
    swaymsg -t get_version >/dev/null 2>&1 && break
    sleep 0.05
done
swaymsg -t get_version >/dev/null 2>&1 || fail "sway did not answer on $SWAYSOCK"
socket=$(find "$work/run" -maxdepth 1 -type s -name 'wayland-*' | head -1)
[ -n "$socket" ] || fail "sway made no Wayland socket"
export WAYLAND_DISPLAY="$socket"
# Xwayland listens on the display whose lock names sway, and is started by the first X client
# there. It lets in only sway's user: that client lets us in too.
for lock in /tmp/.X*-lock; do
    [ -f "$lock" ] || continue
    if [ "$(tr -dc 0-9 <"$lock")" = "$sway_pid" ]; then
        n=${lock#/tmp/.X}
        export DISPLAY=":${n%-lock}"
    fi
done
if [ -n "${DISPLAY:-}" ]; then
    "${as_user[@]}" xhost "+si:localuser:$(id -un)" >"$work/xhost.log" 2>&1 ||
        fail "Xwayland on $DISPLAY did not start: $(cat "$work/xhost.log")"
fi
export PENRIKA_WAYLAND_SESSION=sway
"$@" &
child=$!
wait "$child"
rc=$?
if ! kill -0 "$sway_pid" 2>/dev/null; then
    wait "$sway_pid"
    echo "sway-session: sway ended during the command (status $?)" >&2
    tail -n 20 "$work/sway.log" >&2
elif [ "$rc" -ne 0 ]; then
    echo "sway-session: the command failed ($rc); the end of sway's log:" >&2
    tail -n 20 "$work/sway.log" >&2
fi
exit "$rc"
