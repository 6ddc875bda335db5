#!/usr/bin/env bash
# The test display's session bus: what runs on the display finds the display's own bus (no
# dbus-launch of its own), and nothing started there outlives the display.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=$(mktemp)
trap 'rm -f "$out"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# A D-Bus client, as Qt and the browsers are; without an address it would autolaunch a bus.
"$here/with-x.sh" sh -c '
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.GetId >/dev/null || exit 11
    printf "%s %s\n" "$PENRIKA_TEST_WORK" "${DBUS_SESSION_BUS_ADDRESS:-}"' >"$out"
rc=$?
[ "$rc" -eq 0 ] || fail "the display's command failed ($rc)"
read -r work address <"$out"
case "$address" in
    unix:path="$work"/*) ;;
    *) fail "the bus is not the display's own: '$address' (display work folder $work)" ;;
esac
# Every process started on the display carries its work folder in its environment.
left=$(grep -lsz "^PENRIKA_TEST_WORK=$work\$" /proc/[0-9]*/environ)
[ -z "$left" ] || fail "left running after the display ended: $(echo "$left" | tr '\n' ' ')"
echo "ok: one bus per display, gone with it"
