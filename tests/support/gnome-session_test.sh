#!/usr/bin/env bash
# The GNOME test session: the command gets the compositor's socket, Xwayland, the session's own
# bus and its exit status back; Xwayland takes a display no lock file claims and removes no
# other's; nothing started there outlives the session; the consent stored for a test's driver
# starts a remote-desktop session without a dialog.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=$(mktemp)
stale=""
trap 'rm -f "$out" $stale' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# A lock of a display whose server this machine cannot see (one in another PID namespace) looks
# stale; it stands on the first number Xwayland would take.
n=0
while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
stale=/tmp/.X$n-lock
# No process can have the number 4194304.
printf '%10d\n' 4194304 >"$stale"

"$here/gnome-session.sh" sh -c '
    [ "$PENRIKA_WAYLAND_SESSION" = gnome ] && [ "$XDG_CURRENT_DESKTOP" = GNOME ] || exit 11
    case $WAYLAND_DISPLAY in "$XDG_RUNTIME_DIR"/*) ;; *) exit 12 ;; esac
    [ -S "$WAYLAND_DISPLAY" ] || exit 12
    xdpyinfo >/dev/null 2>&1 || exit 13
    gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.GetId >/dev/null || exit 14
    printf "%s %s %s\n" "$PENRIKA_TEST_WORK" "$DBUS_SESSION_BUS_ADDRESS" "$DISPLAY"
    exit 7' >"$out"
rc=$?
[ "$rc" -eq 77 ] && { echo "skip: no GNOME Shell 48 here"; exit 0; }
[ "$rc" -eq 7 ] || fail "the command's exit status is not the session's ($rc)"
read -r work address display <"$out"
case "$address" in
    unix:path="$work"/*) ;;
    *) fail "the bus is not the session's own: '$address' (work folder $work)" ;;
esac
[ "$display" != ":$n" ] || fail "Xwayland took display :$n, claimed by a lock file"
[ -f "$stale" ] || fail "the session removed the lock file of display :$n"
# Every process of the session carries its work folder in its environment.
left=$(grep -lsF "$work" /proc/[0-9]*/environ)
[ -z "$left" ] || fail "left running after the session ended: $(echo "$left" | tr '\n' ' ')"
[ ! -e "$work" ] || fail "the work folder $work is left behind"
echo "ok: GNOME's socket, Xwayland on a free display and bus, gone with the session"

# One connection does what a program does: registers its app id (when it has one),
# CreateSession, SelectDevices with the stored token, Start. Without a grant Start waits for the
# user's answer in a dialog: none comes. Prints Start's response, the devices granted and the
# token to restore next time.
#   gjs -c "$portal_js" TOKEN DEVICE-TYPES [APP-ID]
# shellcheck disable=SC2016
portal_js='
const {Gio, GLib} = imports.gi;
const [token, types, app] = ARGV;
const bus = Gio.DBus.session;
const sender = bus.get_unique_name().slice(1).replace(/\./g, "_");
const call = (iface, method, signature, args) => bus.call_sync("org.freedesktop.portal.Desktop",
    "/org/freedesktop/portal/desktop", iface, method, new GLib.Variant(signature, args), null, 0,
    -1, null);
let n = 0;
function request(method, signature, args, options) {
    const handle = `penrika${++n}`;
    const path = `/org/freedesktop/portal/desktop/request/${sender}/${handle}`;
    let answer = null, late = false;
    const id = bus.signal_subscribe("org.freedesktop.portal.Desktop",
        "org.freedesktop.portal.Request", "Response", path, null, 0,
        (c, s, p, i, name, params) => { answer = params.deep_unpack(); });
    options.handle_token = new GLib.Variant("s", handle);
    call("org.freedesktop.portal.RemoteDesktop", method, signature, [...args, options]);
    const timer = GLib.timeout_add(GLib.PRIORITY_DEFAULT, 5000, () => { late = true; return false; });
    while (!answer && !late)
        GLib.MainContext.default().iteration(true);
    GLib.source_remove(timer);
    bus.signal_unsubscribe(id);
    if (!answer) {
        print(`${method}: no answer`);
        imports.system.exit(1);
    }
    return answer;
}
if (app)
    call("org.freedesktop.host.portal.Registry", "Register", "(sa{sv})", [app, {}]);
const [, created] = request("CreateSession", "(a{sv})", [],
    {session_handle_token: new GLib.Variant("s", "penrika")});
const session = created.session_handle.deep_unpack();
request("SelectDevices", "(oa{sv})", [session], {types: new GLib.Variant("u", Number(types)),
    persist_mode: new GLib.Variant("u", 2), restore_token: new GLib.Variant("s", token)});
const [code, started] = request("Start", "(osa{sv})", [session, ""], {});
print(`${code} ${started.devices?.deep_unpack()} ${started.restore_token?.deep_unpack()}`);
'
"$here/gnome-session.sh" sh -c '
    echo "$PENRIKA_GNOME_DRIVER_TOKEN $PENRIKA_GNOME_TOKEN"
    gjs -c "$1" "$PENRIKA_GNOME_DRIVER_TOKEN" 3 || exit 21
    gjs -c "$1" "$PENRIKA_GNOME_TOKEN" 1 jp.tamsel.Penrika || exit 22
' gnome-session "$portal_js" >"$out"
rc=$?
[ "$rc" -eq 0 ] || fail "the remote-desktop sessions failed ($rc): $(cat "$out")"
{ read -r driver_token app_token; read -r code devices restored; } <"$out"
[ "$code" = 0 ] || fail "Start with the driver's stored consent answered $code"
[ "$devices" = 3 ] || fail "the driver got devices $devices, not keyboard and pointer"
[ "$restored" = "$driver_token" ] || fail "the driver's consent is not kept under its token"
read -r code devices restored < <(sed -n 3p "$out")
[ "$code" = 0 ] || fail "Start with Penrika's stored consent answered $code"
[ "$devices" = 1 ] || fail "Penrika got devices $devices, not the keyboard alone"
[ "$restored" = "$app_token" ] || fail "Penrika's consent is not kept under its token"
echo "ok: the stored consent starts remote-desktop sessions without a dialog, for the driver and for Penrika"

PENRIKA_GNOME_NO_CONSENT=1 "$here/gnome-session.sh" sh -c '[ -z "${PENRIKA_GNOME_TOKEN+set}" ] && [ -n "$PENRIKA_GNOME_DRIVER_TOKEN" ]' ||
    fail "without consent asked for, Penrika still has a token"
echo "ok: no consent for Penrika when the session is asked for none"
