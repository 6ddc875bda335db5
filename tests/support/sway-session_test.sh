#!/usr/bin/env bash
# The headless sway session: the command reaches the compositor, its Xwayland and the session's
# own bus, the runtime directory is private to sway's user, the command's exit status comes
# back, and nothing started there outlives the session.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=$(mktemp)
trap 'rm -f "$out"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$here/sway-session.sh" sh -c '
    [ "$PENRIKA_WAYLAND_SESSION" = sway ] || exit 11
    swaymsg -t get_outputs | grep -q "\"current_mode\"" || exit 12
    [ -S "$WAYLAND_DISPLAY" ] || exit 13
    xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id" || exit 14
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.GetId >/dev/null || exit 15
    printf "%s %s %s\n" "$PENRIKA_TEST_WORK" "$(stat -c %a:%U "$XDG_RUNTIME_DIR")" \
        "$DBUS_SESSION_BUS_ADDRESS"
    exit 7' >"$out"
rc=$?
[ "$rc" -eq 7 ] || fail "the command's exit status is not the session's ($rc)"
read -r work runtime address <"$out"
[ "$runtime" = "700:${PENRIKA_E2E_USER:-nobody}" ] || [ "$(id -u)" -ne 0 ] ||
    fail "the runtime directory is $runtime"
case "$address" in
    unix:path="$work"/*) ;;
    *) fail "the bus is not the session's own: '$address' (work folder $work)" ;;
esac
[ ! -e "$work" ] || fail "the work folder $work is left"
left=$(grep -lsz "^PENRIKA_TEST_WORK=$work\$" /proc/[0-9]*/environ)
[ -z "$left" ] || fail "left running after the session ended: $(echo "$left" | tr '\n' ' ')"
echo "ok: a private sway session, gone with its command"
