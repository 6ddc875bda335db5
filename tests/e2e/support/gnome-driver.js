// The test's own hands on a GNOME session (tests/support/gnome-session.sh): a keyboard and a
// pointer through one RemoteDesktop portal session started with the consent the session stored
// for the driver ($PENRIKA_GNOME_DRIVER_TOKEN), and GNOME Shell's window list, which the shell
// shows only to its own portal backends: the driver takes the name of the one this session does
// not use. One command a line on stdin, one answer a line on stdout, once GNOME has taken it:
//   key CODE 1|0      an evdev key pressed or released
//   move X Y          the pointer to X, Y (the portal moves it by steps only, without a
//                     screen stream)
//   button 1|0        the left button pressed or released
//   windows           the shell's windows as JSON: id, title, focus, hidden, x11, height
const {Gio, GLib} = imports.gi;
const bus = Gio.DBus.session;
const sender = bus.get_unique_name().slice(1).replace(/\./g, '_');
const context = GLib.MainContext.default();
const call = (dest, path, iface, method, signature, args) => bus.call_sync(dest, path, iface,
    method, signature ? new GLib.Variant(signature, args) : null, null, 0, 10000, null);
const portal = (method, signature, args) => call('org.freedesktop.portal.Desktop',
    '/org/freedesktop/portal/desktop', 'org.freedesktop.portal.RemoteDesktop', method, signature,
    args);
const pause = ms => {
    const end = GLib.get_monotonic_time() + ms * 1000;
    while (GLib.get_monotonic_time() < end) context.iteration(false);
};

let requests = 0;
function request(method, signature, args, options) {
    const handle = `driver${++requests}`;
    const path = `/org/freedesktop/portal/desktop/request/${sender}/${handle}`;
    let answer = null;
    const id = bus.signal_subscribe('org.freedesktop.portal.Desktop',
        'org.freedesktop.portal.Request', 'Response', path, null, 0,
        (c, s, p, i, name, params) => { answer = params.deep_unpack(); });
    options.handle_token = new GLib.Variant('s', handle);
    portal(method, signature, [...args, options]);
    const end = GLib.get_monotonic_time() + 10000000;
    while (!answer && GLib.get_monotonic_time() < end) context.iteration(true);
    bus.signal_unsubscribe(id);
    if (!answer || answer[0] !== 0)
        throw new Error(`${method}: ${answer ? `response ${answer[0]}` : 'no answer'}`);
    return answer[1];
}

let owned = null;
Gio.bus_own_name_on_connection(bus, 'org.freedesktop.impl.portal.desktop.gtk',
    Gio.BusNameOwnerFlags.NONE, () => { owned = true; }, () => { owned = false; });
while (owned === null) context.iteration(true);
if (!owned)
    printerr('gnome-driver: the window list stays closed (another owns its portal name)');

const created = request('CreateSession', '(a{sv})', [],
    {session_handle_token: new GLib.Variant('s', 'driver')});
const session = created.session_handle.deep_unpack();
request('SelectDevices', '(oa{sv})', [session], {types: new GLib.Variant('u', 3),
    persist_mode: new GLib.Variant('u', 2),
    restore_token: new GLib.Variant('s', GLib.getenv('PENRIKA_GNOME_DRIVER_TOKEN') || '')});
request('Start', '(osa{sv})', [session, ''], {});
const notify = (method, signature, args) => portal(method, signature, [session, {}, ...args]);

// Parked in the corner once (the pointer cannot go past it, so where it is then is known), the
// pointer then moves by the steps between the places asked for, as a hand moves it: a page sees
// each move as a move inside it (Firefox takes no move from a pointer that jumps in from the
// corner each time).
const [width, height] = [1280, 800];
let at = null;
function move(x, y) {
    if (!at) {
        for (let i = 0; i < 2; i++)
            notify('NotifyPointerMotion', '(oa{sv}dd)', [10000, 10000]);
        at = [width - 1, height - 1];
    }
    const [tx, ty] = [Math.min(Math.max(x, 0), width - 1), Math.min(Math.max(y, 0), height - 1)];
    if (tx !== at[0] || ty !== at[1])
        notify('NotifyPointerMotion', '(oa{sv}dd)', [tx - at[0], ty - at[1]]);
    at = [tx, ty];
}
// A new session's first events are lost (headless GNOME): a few first.
for (let i = 0; i < 3; i++) {
    at = null;
    move(width / 2, height - 2);
    pause(30);
}

let GioUnix = null;
try {
    GioUnix = imports.gi.GioUnix;
} catch (e) {}
const stdin = new Gio.DataInputStream(
    {base_stream: new (GioUnix ? GioUnix.InputStream : Gio.UnixInputStream)({fd: 0})});
const out = text => print(text);
function handle(line) {
    const [command, a, b] = line.trim().split(/\s+/);
    try {
        if (command === 'key') {
            notify('NotifyKeyboardKeycode', '(oa{sv}iu)', [Number(a), Number(b)]);
        } else if (command === 'move') {
            move(Number(a), Number(b));
        } else if (command === 'button') {
            notify('NotifyPointerButton', '(oa{sv}iu)', [0x110, Number(a)]);
        } else if (command === 'windows') {
            const [windows] = call('org.gnome.Shell.Introspect', '/org/gnome/Shell/Introspect',
                'org.gnome.Shell.Introspect', 'GetWindows', null, null).deep_unpack();
            const list = Object.entries(windows).map(([id, p]) => ({
                id: Number(id), title: p.title?.deep_unpack() ?? '',
                focus: p['has-focus']?.deep_unpack() ?? false,
                hidden: p['is-hidden']?.deep_unpack() ?? false,
                x11: (p['client-type']?.deep_unpack() ?? 0) === 1,
                height: p.height?.deep_unpack() ?? 0}));
            out(JSON.stringify(list));
            return;
        }
        out('ok');
    } catch (e) {
        out(`error ${e.message.replace(/\n/g, ' ')}`);
    }
}
// The portal calls the backend whose name the driver holds now and then (for the desktop's
// settings): the main loop stays free to answer while the driver waits for its next command.
const loop = new GLib.MainLoop(null, false);
function next() {
    stdin.read_line_async(GLib.PRIORITY_DEFAULT, null, (stream, result) => {
        const [line] = stream.read_line_finish_utf8(result);
        if (line === null) {
            loop.quit();
            return;
        }
        handle(line);
        next();
    });
}
out('ready');
next();
loop.run();
