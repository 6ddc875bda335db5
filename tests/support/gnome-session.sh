#!/usr/bin/env bash
# Runs one command beside a private headless GNOME Shell: `gnome-shell --headless` with one
# 1280x800 virtual monitor and mutter's Xwayland, the desktop portal with GNOME's backend, a
# runtime directory, a D-Bus session bus and a system bus of its own.
#   tests/support/gnome-session.sh CMD...
# The command finds WAYLAND_DISPLAY (an absolute path: programs that get another XDG_RUNTIME_DIR
# still reach it), XDG_RUNTIME_DIR, DISPLAY and XAUTHORITY (mutter's Xwayland),
# DBUS_SESSION_BUS_ADDRESS, XDG_SESSION_TYPE=wayland, XDG_CURRENT_DESKTOP=GNOME,
# PENRIKA_WAYLAND_SESSION=gnome, PENRIKA_TEST_WORK and a private HOME and XDG directories. The
# shell has left its overview and its hot corner is off, so a window opened later has the
# keyboard.
# Remote-desktop consent is in the portal's permission store already, as after a user ticked
# "Remember this selection": PENRIKA_GNOME_DRIVER_TOKEN restores keyboard and pointer for a
# program without an app id (a test's driver), PENRIKA_GNOME_TOKEN (not with
# $PENRIKA_GNOME_NO_CONSENT set) the keyboard for jp.tamsel.Penrika, which a program takes with
# org.freedesktop.host.portal.Registry.Register before its first portal call. Used with
# persist_mode 2 a token stays valid: the portal stores the grant again under the same token.
# Everything runs as root, the command too: GNOME Shell needs mount namespaces of its own (below),
# and the portal tells a caller's app id from the caller's /proc entries, closed to another user.
# Everything started here is stopped by PID when the command ends.
# Exit status: the command's; 77 when GNOME Shell 48 or later is not installed (Debian 12 has 43:
# its portal has no restore tokens for remote desktop), and nothing was started; 1 when the
# session did not come up (the end of its logs follows); 2 without a command.
set -u
[ $# -gt 0 ] || { echo "usage: gnome-session.sh CMD..." >&2; exit 2; }
version=$(gnome-shell --version 2>/dev/null | sed -n 's/^GNOME Shell \([0-9]*\).*/\1/p')
if [ -z "$version" ] || [ "$version" -lt 48 ]; then
    echo "gnome-session: needs GNOME Shell 48 or later (${version:-none} is installed)" >&2
    exit 77
fi
[ "$(id -u)" -eq 0 ] || { echo "gnome-session: needs root (mount namespaces)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/penrika-gnome.XXXXXX")
shell_pid=""
bus_pid=""
system_bus_pid=""
source "$(dirname "${BASH_SOURCE[0]}")/session-end.sh"
cleanup() {
    # gnome-shell ends its Xwayland; the portals end with their bus.
    [ -n "$shell_pid" ] && kill "$shell_pid" 2>/dev/null && wait "$shell_pid" 2>/dev/null
    [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null && wait "$bus_pid" 2>/dev/null
    [ -n "$system_bus_pid" ] && kill "$system_bus_pid" 2>/dev/null &&
        wait "$system_bus_pid" 2>/dev/null
    # Whatever of the session is left: started by the bus or the shell, detached from us, or by
    # the command.
    end_leftovers "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP
fail() {
    echo "gnome-session: $1" >&2
    for log in gnome-shell.log dbus.log; do
        [ -s "$work/$log" ] && { echo "--- $log:" >&2; tail -n 40 "$work/$log" >&2; }
    done
    exit 1
}

# The session's side (shell, buses, portals) has a home of its own; the command's is beside it.
mkdir -p "$work/gnome/.config/xdg-desktop-portal" "$work/gnome/.local/share/applications" \
    "$work/gnome/.cache" "$work/run" "$work/home" "$work/config" "$work/data" "$work/cache"
chmod 700 "$work/run"
# Without gnome-session no portals.conf says which backend serves a GNOME desktop.
printf '[preferred]\ndefault=gnome;\n' >"$work/gnome/.config/xdg-desktop-portal/portals.conf"
# The portal registers an app id only for an application it finds a desktop file of, and GLib
# reads one only when its program is found (a build's penrika is not in PATH).
[ -f /usr/share/applications/jp.tamsel.Penrika.desktop ] ||
    printf '[Desktop Entry]\nType=Application\nName=Penrika\nExec=%s\nNoDisplay=true\n' \
        "$(command -v penrika >/dev/null && echo penrika || echo true)" \
        >"$work/gnome/.local/share/applications/jp.tamsel.Penrika.desktop"

# GNOME Shell shows its window list only to its portal backends: the GTK one, which this session
# does not use, is kept from starting, so that a test's driver may take its name.
mkdir -p "$work/gnome/.local/share/dbus-1/services"
printf '[D-BUS Service]\nName=org.freedesktop.impl.portal.desktop.gtk\nExec=/bin/false\n' \
    >"$work/gnome/.local/share/dbus-1/services/org.freedesktop.impl.portal.desktop.gtk.service"

socket=wayland-gnome
unset DISPLAY XAUTHORITY WAYLAND_SOCKET QT_QPA_PLATFORM GDK_BACKEND SESSION_MANAGER
export HOME="$work/gnome" XDG_CONFIG_HOME="$work/gnome/.config" \
    XDG_DATA_HOME="$work/gnome/.local/share" XDG_CACHE_HOME="$work/gnome/.cache" \
    XDG_RUNTIME_DIR="$work/run" WAYLAND_DISPLAY="$work/run/$socket" \
    DBUS_SESSION_BUS_ADDRESS="unix:path=$work/bus" XDG_SESSION_TYPE=wayland \
    XDG_CURRENT_DESKTOP=GNOME PENRIKA_TEST_WORK="$work"
system_bus="unix:path=$work/system-bus"

# GNOME Shell takes logind for the session manager when logind's seats directory exists, and
# aborts without logind running (a chroot has the directory from systemd's package): it sees
# none. It takes an X display by the lock files in /tmp and removes those that name a process it
# cannot see, which in a PID namespace (tools/in-debian.sh) are displays in use outside: in its
# view those cannot be removed. The bus gets the same view, and the document portal it starts
# mounts its FUSE file system there, gone with it. (In a chroot the root is no mount point to
# make private, and tools/in-debian.sh has made every mount private already.)
private_view=(unshare --mount --propagation unchanged -- sh -c '
    mount --make-rprivate / 2>/dev/null || ! grep -q " shared:" /proc/self/mountinfo || {
        echo "gnome-session: the mounts here are shared, and / cannot be made private" >&2; exit 1; }
    [ -d /run/systemd/seats ] && mount -t tmpfs -o mode=755 tmpfs /run/systemd
    for lock in /tmp/.X*-lock; do [ -f "$lock" ] && mount --bind "$lock" "$lock"; done
    exec "$@"' private-view)

# GNOME Shell crashes without a system bus; a private one with no services on it is enough.
cat >"$work/system-bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <listen>$system_bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
mkfifo "$work/system-bus.address" "$work/bus.address"
dbus-daemon --config-file="$work/system-bus.conf" --nofork --print-address=3 \
    3>"$work/system-bus.address" >"$work/system-dbus.log" 2>&1 &
system_bus_pid=$!
read -r -t 10 _ <"$work/system-bus.address" || fail "the system bus did not start"
DBUS_SYSTEM_BUS_ADDRESS=$system_bus "${private_view[@]}" dbus-daemon --session --nofork \
    --address="$DBUS_SESSION_BUS_ADDRESS" --print-address=3 3>"$work/bus.address" \
    >"$work/dbus.log" 2>&1 &
bus_pid=$!
read -r -t 10 _ <"$work/bus.address" || fail "the session bus did not start"

# A pointer parked in the corner would open the overview; an idle session would blank and lock.
gsettings set org.gnome.desktop.interface enable-hot-corners false &&
    gsettings set org.gnome.desktop.session idle-delay 0 &&
    gsettings set org.gnome.desktop.screensaver lock-enabled false ||
    fail "the session's settings could not be written"

DBUS_SYSTEM_BUS_ADDRESS=$system_bus "${private_view[@]}" gnome-shell --wayland --headless \
    --virtual-monitor 1280x800 --wayland-display="$socket" >"$work/gnome-shell.log" 2>&1 &
shell_pid=$!

# Up to a minute on a busy machine for all of it.
deadline=$((SECONDS + 60))
waiting() {
    kill -0 "$shell_pid" 2>/dev/null || fail "GNOME Shell ended while starting"
    [ "$SECONDS" -lt "$deadline" ] || fail "$1"
    sleep 0.1
}
# mutter starts Xwayland at once and keeps its display and auth file to itself (it hands them to
# gnome-session only): its log names the display, the auth file is in the runtime directory.
display=""
until [ -n "$display" ] && [ -n "${auth:-}" ]; do
    waiting "GNOME Shell started no Xwayland"
    display=$(sed -n 's/.*Using public X11 display \(:[0-9]*\),.*/\1/p' "$work/gnome-shell.log")
    auth=$(find "$work/run" -maxdepth 1 -name '.mutter-Xwaylandauth.*' | head -1)
done
export DISPLAY="$display" XAUTHORITY="$auth"
# What the bus starts from now on (the portals) gets the session's displays.
dbus-update-activation-environment WAYLAND_DISPLAY DISPLAY XAUTHORITY XDG_CURRENT_DESKTOP \
    XDG_SESSION_TYPE XDG_RUNTIME_DIR || fail "the bus took no environment"

until grep -q "GNOME Shell started" "$work/gnome-shell.log"; do
    waiting "GNOME Shell did not finish starting"
done
portal=(--session --dest org.freedesktop.portal.Desktop --object-path /org/freedesktop/portal/desktop)
until [ "$(gdbus call "${portal[@]}" --method org.freedesktop.DBus.Properties.Get \
        org.freedesktop.portal.RemoteDesktop version 2>/dev/null |
        sed -n 's/^(<uint32 \([0-9]*\)>,)$/\1/p')" -ge 2 ] 2>/dev/null; do
    waiting "the desktop portal has no remote desktop (version 2)"
done

# A grant as the portal stores it for GNOME's backend: the token names the entry, the app id
# owns it, the data are what the user allowed (device types: 1 keyboard, 2 pointer).
store_grant() {
    local token now
    token=$(cat /proc/sys/kernel/random/uuid)
    now=$(($(date +%s) * 1000000))
    gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore \
        --object-path /org/freedesktop/impl/portal/PermissionStore \
        --method org.freedesktop.impl.portal.PermissionStore.Set remote-desktop true "$token" \
        "{'$1': ['yes']}" \
        "<('GNOME', uint32 1, <(int64 $now, int64 $now, uint32 $2, false, @a(uuv) [])>)>" \
        >/dev/null && echo "$token"
}
driver_token=$(store_grant "" 3) || fail "the driver's consent could not be stored"
if [ -z "${PENRIKA_GNOME_NO_CONSENT:-}" ]; then
    app_token=$(store_grant jp.tamsel.Penrika 1) || fail "Penrika's consent could not be stored"
fi

# GNOME Shell starts in its overview, where a window opened later would not have the keyboard.
shell=(--session --dest org.gnome.Shell --object-path /org/gnome/Shell)
gdbus call "${shell[@]}" --method org.freedesktop.DBus.Properties.Set org.gnome.Shell \
    OverviewActive '<false>' >/dev/null || fail "the overview could not be left"
until [ "$(gdbus call "${shell[@]}" --method org.freedesktop.DBus.Properties.Get \
        org.gnome.Shell OverviewActive 2>/dev/null)" = "(<false>,)" ]; do
    waiting "GNOME Shell stayed in its overview"
done

export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
    XDG_CACHE_HOME="$work/cache" PENRIKA_WAYLAND_SESSION=gnome \
    PENRIKA_GNOME_DRIVER_TOKEN="$driver_token"
if [ -n "${app_token:-}" ]; then
    export PENRIKA_GNOME_TOKEN="$app_token"
else
    unset PENRIKA_GNOME_TOKEN
fi

"$@" &
child=$!
wait "$child"
rc=$?
if [ "$rc" -ne 0 ]; then
    echo "gnome-session: the command failed ($rc); the end of GNOME Shell's log:" >&2
    tail -n 20 "$work/gnome-shell.log" >&2
fi
exit "$rc"
