#!/usr/bin/env bash
# Runs one command beside a private KWin Wayland compositor: `kwin_wayland --virtual` with one
# 1280x800 output and Xwayland, no Plasma shell, run as an unprivileged user
# ($PENRIKA_E2E_USER, else nobody) with a runtime directory and a D-Bus session bus of its own.
# The command runs as the calling user (root in CI, who can reach the user's socket) with
# WAYLAND_DISPLAY (an absolute path: programs that get another XDG_RUNTIME_DIR still reach it),
# XDG_RUNTIME_DIR, DISPLAY (Xwayland's), DBUS_SESSION_BUS_ADDRESS and
# PENRIKA_WAYLAND_SESSION=kwin exported, and a private HOME and XDG directories. Everything
# started here is stopped by PID when the command ends; the exit status is the command's.
#   tests/support/kwin-session.sh CMD...
# The command's program (and those in $PENRIKA_KWIN_TRUSTED, colon-separated) may bind KWin's
# window list, fake input and key states, which KWin grants only to a program whose desktop
# file names them: the session writes one for each, and a program installed with its own
# (the package's) is granted by that. A copy of one of those programs put into
# $PENRIKA_KWIN_COPIES (exported) under the same name is trusted too: a portable copy, which keeps
# its data beside itself, runs from there. Every other program is refused them, as on a desktop.
# With $PENRIKA_KWIN_INPUT_METHOD set KWin starts fcitx5 as its input method (what Plasma's
# Virtual Keyboard setting does), as the session's user on the session's bus, with mozc in its
# profile and switched off (keyboard-us); its log is $PENRIKA_KWIN_INPUT_METHOD_LOG.
set -u
[ $# -gt 0 ] || { echo "usage: kwin-session.sh CMD..." >&2; exit 2; }
user=${PENRIKA_E2E_USER:-nobody}
uid=$(id -u "$user" 2>/dev/null) && gid=$(id -g "$user") || {
    echo "kwin-session: no user $user to run KWin as" >&2; exit 1; }
kwin_bin=$(command -v kwin_wayland) || { echo "kwin-session: kwin_wayland is not installed" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/penrika-kwin.XXXXXX")
# The session's user passes through to its own directories inside.
chmod 711 "$work"
kwin_pid=""
bus_pid=""
source "$(dirname "${BASH_SOURCE[0]}")/session-end.sh"
cleanup() {
    # KWin ends its Xwayland and the programs it started; whatever of them is left after it
    # (KWin killed hard) goes by PID too.
    local children=""
    [ -n "$kwin_pid" ] && children=$(ps -o pid= --ppid "$kwin_pid" 2>/dev/null)
    [ -n "$kwin_pid" ] && kill "$kwin_pid" 2>/dev/null
    [ -n "$kwin_pid" ] && wait "$kwin_pid" 2>/dev/null
    for p in $children; do kill "$p" 2>/dev/null; done
    [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null
    [ -n "$bus_pid" ] && wait "$bus_pid" 2>/dev/null
    # What the bus started (the desktop portals) ends a moment after it, and mozc_server leaves
    # its parent (fcitx5) at once: both name the work folder in their environment.
    end_leftovers "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP

# Becomes the program, run as the session's user (started in the background, its PID is $!).
# `caps` are capabilities it keeps (setpriv's notation, e.g. +sys_ptrace).
caps=""
as_user() {
    [ "$uid" = "$(id -u)" ] && exec "$@"
    exec setpriv --reuid="$uid" --regid="$gid" --clear-groups \
        ${caps:+--inh-caps="$caps" --ambient-caps="$caps"} -- "$@"
}
log_tail() { echo "--- $1:" >&2; tail -n 40 "$work/$1" >&2; }

# Debian's binary carries a file capability (CAP_SYS_RESOURCE, for its scheduling) that this
# kind of machine cannot grant: exec fails. A copy carries none.
mkdir -p "$work/bin"
cp "$kwin_bin" "$work/bin/kwin_wayland"
chmod 755 "$work/bin" "$work/bin/kwin_wayland"

# The session user's home and runtime directory; the command's own home beside them.
mkdir -p "$work/kwin-home/.config" "$work/run" "$work/home" "$work/config" "$work/data" \
    "$work/cache"
# KWin hands its window list, fake input and key states only to a program whose desktop file
# lists them, found by the program's path: the command's program, and those named in
# $PENRIKA_KWIN_TRUSTED (colon-separated), get one.
# KWin 5 looks desktop files up in a cache it renews only now and then: the copies' are written
# now too, before the copies exist.
mkdir -p "$work/kwin-home/.local/share/applications" "$work/copies"
n=0
IFS=: read -r -a trusted <<<"${PENRIKA_KWIN_TRUSTED:-}"
for program in "$1" "${trusted[@]}"; do
    path=$(command -v "$program" 2>/dev/null) && path=$(realpath "$path") && [ -x "$path" ] || continue
    for exec in "$path" "$work/copies/$(basename "$path")"; do
        n=$((n + 1))
        printf '[Desktop Entry]\nType=Application\nName=penrika-test-%s\nNoDisplay=true\nExec=%s\n%s\n' \
            "$n" "$exec" \
            "X-KDE-Wayland-Interfaces=org_kde_plasma_window_management,org_kde_kwin_fake_input,org_kde_kwin_keystate" \
            >"$work/kwin-home/.local/share/applications/penrika-test-$n.desktop"
    done
done

# KWin finds a program's desktop file in KDE's index of applications, which takes in only what
# a menu file names: a Plasma session names Plasma's (XDG_MENU_PREFIX=plasma-, from
# plasma-workspace), a bare KWin none, and then it grants nothing to anyone. The session's own
# menu names every application.
mkdir -p "$work/xdg/menus"
cat >"$work/xdg/menus/penrika-session-applications.menu" <<'MENU'
<Menu>
  <Name>Applications</Name>
  <DefaultAppDirs/>
  <DefaultDirectoryDirs/>
  <Include><All/></Include>
</Menu>
MENU
chmod -R a+rX "$work/xdg"

# KWin's input method: started by KWin, which hands it the input-method protocol on a socket
# of its own, and restarted by it should it crash.
im_args=()
if [ -n "${PENRIKA_KWIN_INPUT_METHOD:-}" ]; then
    mkdir -p "$work/kwin-home/.config/fcitx5"
    cp "$(dirname "${BASH_SOURCE[0]}")/fcitx5-profile" "$work/kwin-home/.config/fcitx5/profile"
    : >"$work/fcitx5.log"
    chown "$uid:$gid" "$work/fcitx5.log"
    chmod 644 "$work/fcitx5.log"
    printf '#!/bin/sh\nexec fcitx5 >>"%s" 2>&1\n' "$work/fcitx5.log" >"$work/bin/input-method"
    chmod 755 "$work/bin/input-method"
    im_args=(--inputmethod "$work/bin/input-method")
fi
chown -R "$uid:$gid" "$work/kwin-home" "$work/run"
chmod 700 "$work/run" "$work/kwin-home"

# One session bus for the compositor and the command. It runs as the session's user and lets
# the calling user in too, as a program of that session would be (tests/e2e/im-session.sh does
# the same); it stays our child and writes its address into a FIFO once it listens.
mkdir -m 700 "$work/bus"
chown "$uid:$gid" "$work/bus"
cat >"$work/session-bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <include>/usr/share/dbus-1/session.conf</include>
  <policy context="default"><allow user="$(id -un)"/></policy>
</busconfig>
CONF
chmod 644 "$work/session-bus.conf"
mkfifo "$work/bus.address"
HOME="$work/kwin-home" as_user dbus-daemon --config-file="$work/session-bus.conf" --nofork \
    --address="unix:dir=$work/bus" --print-address=3 3>"$work/bus.address" \
    >"$work/dbus.log" 2>&1 &
bus_pid=$!
address=""
read -r -t 10 address <"$work/bus.address"
if [ -z "$address" ]; then
    echo "kwin-session: the session bus did not start" >&2; log_tail dbus.log; exit 1
fi

# KWin starts the programs named on its command line once its Wayland server and Xwayland are
# up, with their addresses in the environment: the first one tells us through a FIFO.
mkfifo -m 600 "$work/ready"
chown "$uid:$gid" "$work/ready"
# Xwayland lets in only the session's user; the command's user is let in as well.
caller=$(id -un)
cat >"$work/bin/ready" <<EOF
#!/bin/sh
[ -n "\${DISPLAY:-}" ] && xhost "+si:localuser:$caller" >/dev/null
printf 'WAYLAND_DISPLAY=%s\nDISPLAY=%s\nXAUTHORITY=%s\nready\n' \
    "\$WAYLAND_DISPLAY" "\${DISPLAY:-}" "\${XAUTHORITY:-}" >"$work/ready"
EOF
chmod 755 "$work/bin/ready"
# Held open for reading and writing, so that neither side blocks on opening it.
exec 4<>"$work/ready"

# KWin trusts a program only once it has read which binary the program runs, in /proc; a
# program of the calling user (root) is closed to the session's user, unless it may trace.
[ "$uid" != "$(id -u)" ] && caps=+sys_ptrace

# Xwayland puts its X socket there and KWin fails without it; a machine that has run no X server
# since it started has none yet.
[ -d /tmp/.X11-unix ] || install -d -m 1777 /tmp/.X11-unix

socket="wayland-penrika-$$"
(
    cd "$work/kwin-home" || exit 1
    unset DISPLAY WAYLAND_DISPLAY WAYLAND_SOCKET XAUTHORITY QT_QPA_PLATFORM SESSION_MANAGER
    export HOME="$work/kwin-home" XDG_CONFIG_HOME="$work/kwin-home/.config" \
        XDG_DATA_HOME="$work/kwin-home/.local/share" XDG_CACHE_HOME="$work/kwin-home/.cache" \
        XDG_RUNTIME_DIR="$work/run" DBUS_SESSION_BUS_ADDRESS="$address" \
        XDG_MENU_PREFIX=penrika-session- XDG_CONFIG_DIRS="$work/xdg:${XDG_CONFIG_DIRS:-/etc/xdg}" \
        XDG_SESSION_TYPE=wayland
    as_user "$work/bin/kwin_wayland" --virtual --width 1280 --height 800 --xwayland \
        --socket "$socket" --no-lockscreen --no-global-shortcuts "${im_args[@]}" "$work/bin/ready"
) >"$work/kwin.log" 2>&1 &
kwin_pid=$!

declare -A env_of=()
ready=""
# Up to a minute on a busy machine; the read returns the moment the line arrives, and a KWin
# that has ended is noticed within a second.
for _ in $(seq 1 60); do
    while IFS= read -r -t 1 -u 4 line; do
        if [ "$line" = ready ]; then ready=1; break; fi
        env_of[${line%%=*}]=${line#*=}
    done
    [ -n "$ready" ] && break
    kill -0 "$kwin_pid" 2>/dev/null || break
done
exec 4<&-
if [ -z "$ready" ]; then
    echo "kwin-session: KWin did not come up" >&2; log_tail kwin.log; exit 1
fi

display=${env_of[WAYLAND_DISPLAY]:-$socket}
[ "${display#/}" = "$display" ] && display="$work/run/$display"
export WAYLAND_DISPLAY="$display" XDG_RUNTIME_DIR="$work/run" \
    DBUS_SESSION_BUS_ADDRESS="$address" PENRIKA_WAYLAND_SESSION=kwin XDG_SESSION_TYPE=wayland
if [ -n "${env_of[DISPLAY]:-}" ]; then
    export DISPLAY="${env_of[DISPLAY]}"
else
    unset DISPLAY
fi
if [ -n "${env_of[XAUTHORITY]:-}" ]; then
    export XAUTHORITY="${env_of[XAUTHORITY]}"
else
    unset XAUTHORITY
fi
[ -n "${PENRIKA_KWIN_INPUT_METHOD:-}" ] && export PENRIKA_KWIN_INPUT_METHOD_LOG="$work/fcitx5.log"
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
    XDG_CACHE_HOME="$work/cache" PENRIKA_TEST_WORK="$work" PENRIKA_KWIN_COPIES="$work/copies"
# Which platform Qt takes is the program's own choice, as in a real session.
unset QT_QPA_PLATFORM SESSION_MANAGER WAYLAND_SOCKET

"$@" &
child=$!
wait "$child"
rc=$?
if [ "$rc" -ne 0 ]; then
    echo "kwin-session: the command failed ($rc); the end of KWin's log:" >&2
    tail -n 20 "$work/kwin.log" >&2
fi
exit "$rc"
