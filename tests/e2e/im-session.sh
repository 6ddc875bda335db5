#!/bin/sh
# Runs a command (a browser) the way a Japanese user's session would: on its own D-Bus session
# bus with fcitx5 running mozc, and the GTK and Qt input modules pointed at fcitx. Meant to run
# as an unprivileged user (mozc refuses root). The bus address is written to
# $HOME/dbus-address so that tests can switch the input method with fcitx5-remote; the input
# method starts switched off (keyboard-us), and `fcitx5-remote -o` turns mozc on in hiragana.
# With $PENRIKA_KWIN_INPUT_METHOD_LOG set the desktop runs fcitx5 already (KWin's input method,
# that file its log): the command gets that one, on the session bus it was given.
set -eu
log=${PENRIKA_KWIN_INPUT_METHOD_LOG:-$HOME/fcitx5.log}
mkdir -p "$XDG_CONFIG_HOME/fcitx5" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
if [ -z "${PENRIKA_IM_INNER:-}" ] && [ -z "${PENRIKA_KWIN_INPUT_METHOD_LOG:-}" ]; then
    # Two input methods, off (keyboard-us) first: mozc only when switched on.
    cp "$(dirname "$0")/../support/fcitx5-profile" "$XDG_CONFIG_HOME/fcitx5/profile"
    # Penrika runs as the test's own user (root) and reaches fcitx5 on this bus as a program of
    # the session would: let that user in too.
    cat >"$HOME/session-bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <include>/usr/share/dbus-1/session.conf</include>
  <policy context="default"><allow user="root"/></policy>
</busconfig>
CONF
    export PENRIKA_IM_INNER=1
    exec dbus-run-session --config-file="$HOME/session-bus.conf" -- "$0" "$@"
fi

# Under sway without its candidate window: sway 1.10 crashes now and then when a window closes
# while an input method's popup is on it (sway issue 8541), and these sessions close browsers
# one after another. Nothing here reads the candidates.
ui=""
[ "${PENRIKA_WAYLAND_SESSION:-}" = sway ] && ui=--disable=classicui
[ -n "${PENRIKA_KWIN_INPUT_METHOD_LOG:-}" ] || fcitx5 $ui >"$log" 2>&1 &
i=0
# Up once it owns its name on the bus (asking fcitx5-remote would start a second one).
until dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.fcitx.Fcitx5 2>/dev/null | grep -q true; do
    i=$((i + 1))
    if [ "$i" -gt 400 ]; then
        echo "im-session: fcitx5 did not come up" >&2
        cat "$log" >&2
        exit 1
    fi
    sleep 0.05
done
printf '%s\n' "$DBUS_SESSION_BUS_ADDRESS" >"$HOME/dbus-address.tmp"
mv "$HOME/dbus-address.tmp" "$HOME/dbus-address"
export GTK_IM_MODULE=fcitx QT_IM_MODULE=fcitx XMODIFIERS=@im=fcitx
exec "$@"
