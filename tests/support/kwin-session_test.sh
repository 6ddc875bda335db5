#!/usr/bin/env bash
# The KWin test session: the command gets the compositor's socket, Xwayland, the session's own
# bus and its exit status back; the compositor runs as the session's user in a runtime
# directory of its own; nothing started there outlives the session; KWin grants its window list
# by desktop files only.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=$(mktemp)
trap 'rm -f "$out"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
user=${PENRIKA_E2E_USER:-nobody}

"$here/kwin-session.sh" sh -c '
    [ "$PENRIKA_WAYLAND_SESSION" = kwin ] || exit 11
    case $WAYLAND_DISPLAY in "$XDG_RUNTIME_DIR"/*) ;; *) exit 12 ;; esac
    [ -S "$WAYLAND_DISPLAY" ] || exit 12
    xdpyinfo >/dev/null 2>&1 || exit 13
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.GetId >/dev/null || exit 14
    printf "%s %s %s\n" "$PENRIKA_TEST_WORK" "$DBUS_SESSION_BUS_ADDRESS" \
        "$(stat -c "%U %a" "$XDG_RUNTIME_DIR" | tr " " :)"
    exit 7' >"$out"
rc=$?
[ "$rc" -eq 7 ] || fail "the command's exit status is not the session's ($rc)"
read -r work address runtime <"$out"
case "$address" in
    unix:path="$work"/*) ;;
    *) fail "the bus is not the session's own: '$address' (work folder $work)" ;;
esac
[ "$runtime" = "$user:700" ] || fail "the runtime directory is $runtime, not $user's alone"
# Every process of the session carries its work folder in its environment.
left=$(grep -lsF "$work" /proc/[0-9]*/environ)
[ -z "$left" ] || fail "left running after the session ended: $(echo "$left" | tr '\n' ' ')"
[ ! -e "$work" ] || fail "the work folder $work is left behind"
echo "ok: KWin's socket, Xwayland and bus, gone with the session"

# Opted in, KWin starts fcitx5 as its input method: on the session's bus as the session's user,
# with mozc in its profile, and gone with the session like the rest.
PENRIKA_KWIN_INPUT_METHOD=1 "$here/kwin-session.sh" sh -c '
    [ -f "$PENRIKA_KWIN_INPUT_METHOD_LOG" ] || exit 21
    i=0
    until owner=$(dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus \
            /org/freedesktop/DBus org.freedesktop.DBus.GetConnectionUnixUser \
            string:org.fcitx.Fcitx5 2>/dev/null); do
        i=$((i + 1)); [ "$i" -le 100 ] || exit 22; sleep 0.1
    done
    [ "$(echo $owner | awk "{print \$NF}")" = "$(id -u "${PENRIKA_E2E_USER:-nobody}")" ] || exit 23
    grep -qx "Name=mozc" "$(dirname "$PENRIKA_KWIN_INPUT_METHOD_LOG")/kwin-home/.config/fcitx5/profile" || exit 24
    # fcitx5 takes its bus name before it has loaded all its addons.
    i=0
    until grep -q "Loaded addon waylandim" "$PENRIKA_KWIN_INPUT_METHOD_LOG"; do
        i=$((i + 1)); [ "$i" -le 100 ] || exit 25; sleep 0.1
    done
    echo "$PENRIKA_TEST_WORK"
    exit 7' >"$out"
rc=$?
[ "$rc" -eq 7 ] || fail "KWin's input method is not fcitx5 as the session's user on its bus ($rc)"
read -r work <"$out"
left=$(grep -lsF "$work" /proc/[0-9]*/environ)
[ -z "$left" ] || fail "left running after the session with an input method: $(echo "$left" | tr '\n' ' ')"
echo "ok: fcitx5 as KWin's input method on the session's bus, gone with the session"

# KWin's window list goes to the command's program, named by a desktop file the session wrote,
# and to no other: the session checks its grants as a desktop does.
"$here/kwin-session.sh" wayland-info >"$out" 2>&1 || fail "wayland-info failed in the session"
grep -q "'org_kde_plasma_window_management'" "$out" ||
    fail "the command's program was not granted KWin's window list"
"$here/kwin-session.sh" sh -c 'wayland-info' >"$out" 2>&1 || fail "wayland-info failed in the session"
grep -q "'wl_compositor'" "$out" || fail "wayland-info listed nothing"
! grep -q "'org_kde_plasma_window_management'" "$out" ||
    fail "a program without a desktop file was granted KWin's window list"
echo "ok: KWin's window list for the program its desktop file names, and for no other"
