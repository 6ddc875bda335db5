#!/usr/bin/env bash
# Proves the packages on clean machines: builds the .deb of Debian 12 and that of Debian 13 (the
# other release's inside a root of its own, tools/in-debian.sh), makes a fresh minimal root of
# each release with mmdebstrap, installs its package there with apt (so apt resolves its
# dependencies exactly as on a user's machine) and starts the installed penrika on a private X
# display and in a headless Wayland session, where it fills both browsers under sway and KWin.
# One line per check; exits non-zero when any fails. Needs root (chroot and mounts).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing "${run_packages[@]}" "${package_packages[@]}" "${check_packages[@]}"

releases=(12 13)
if [ "${1:-}" != --inside-display ]; then
    for release in "${releases[@]}"; do
        bash "$root/tools/in-debian.sh" "$release" bash tools/package.sh >/dev/null
        # The browser cases, built with the release's own compilers, run against its package.
        # shellcheck disable=SC2016
        bash "$root/tools/in-debian.sh" "$release" bash -c 'source tools/common.sh &&
            install_missing "${run_packages[@]}" "${test_packages[@]}" >/dev/null &&
            build_penrika ON Write_e2etest >/dev/null'
    done
    exec "$root/tests/support/with-x.sh" bash "$0" --inside-display
fi

# From here on: DISPLAY is a private Xvfb with openbox (tests/support/with-x.sh).
failed=0
rootfs=""
cleanup() {
    if [ -n "${pid:-}" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
    pid=""
    [ -n "$rootfs" ] || return 0
    # What a session there left running has the root's files open.
    for p in /proc/[0-9]*; do
        [ "$(readlink "$p/root" 2>/dev/null)" = "$rootfs" ] && kill -KILL "${p#/proc/}" 2>/dev/null
    done
    # Everything mounted in it, deepest first: the machine's /dev, /sys and /proc, the checkout,
    # and what its sessions left (a browser starts the document portal, which mounts its file
    # system in the browser's runtime directory and leaves it behind when it is killed).
    { grep -o " $rootfs/[^ ]*" /proc/mounts || true; } | sort -r |
        while read -r m; do umount -l "$m" || true; done
    # Never remove a root while the machine's /dev or /proc is still mounted in it.
    if grep -q " $rootfs/" /proc/mounts; then
        echo "clean machine: $rootfs still has mounts; left in place" >&2
        rootfs=""
        return 1
    fi
    rm -rf "$rootfs"
    rootfs=""
}
trap cleanup EXIT

check_release() {  # check_release 12|13: one fresh root of that release, its package, the checks
    local release=$1 suite
    suite=$(debian_suite "$release")
    check() {  # check NAME COMMAND...: runs the command, prints one line
        local name=$1
        shift
        if "$@"; then
            echo "ok   Debian $release: $name"
        else
            echo "FAIL Debian $release: $name"
            failed=1
        fi
    }
    local deb
    deb=$(ls -t "$root"/out/penrika_*+deb"${release}"_"$(dpkg --print-architecture)".deb | head -1)
    rootfs=$(mktemp -d /tmp/penrika-clean.XXXXXX)
    mmdebstrap --quiet --variant=apt "$suite" "$rootfs" "$debian_mirror" >/dev/null
    cp "$deb" "$rootfs/tmp/penrika.deb"
    mount -t proc proc "$rootfs/proc"
    # With /dev's own mounts (shared memory, which the browsers need) and /sys, which they read.
    # Slaves: unmounting them later must not unmount the machine's own.
    mount --rbind --make-rslave /dev "$rootfs/dev"
    mount --rbind --make-rslave /sys "$rootfs/sys"
    mkdir -p "$rootfs/tmp/.X11-unix"
    mount --bind /tmp/.X11-unix "$rootfs/tmp/.X11-unix"
    in_root() { chroot "$rootfs" env -i PATH=/usr/bin:/bin HOME=/root LANG=C.UTF-8 "$@"; }
    check "apt installs the package and its dependencies" \
        in_root sh -c 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /tmp/penrika.deb >/dev/null 2>&1'
    version_answers() { in_root penrika --version | grep -q '^penrika '; }
    check "penrika --version answers" version_answers
    check "the desktop entry validates" \
        desktop-file-validate "$rootfs/usr/share/applications/jp.tamsel.Penrika.desktop"
    appstream_validates() {
        appstreamcli validate --no-net --pedantic \
            "$rootfs/usr/share/metainfo/jp.tamsel.Penrika.metainfo.xml" >/dev/null
    }
    check "the AppStream data validates" appstream_validates

    # The installed program, started from its desktop entry's command on this display.
    exec_line=$(sed -n 's/^Exec=//p' "$rootfs/usr/share/applications/jp.tamsel.Penrika.desktop")
    in_root mkdir -p /root/run && chmod 700 "$rootfs/root/run"
    chroot "$rootfs" env -i PATH=/usr/bin:/bin HOME=/root LANG=C.UTF-8 DISPLAY="$DISPLAY" \
        XDG_RUNTIME_DIR=/root/run $exec_line >/tmp/penrika-clean.log 2>&1 &
    pid=$!
    toolbar=""
    for _ in $(seq 100); do
        toolbar=$(xdotool search --onlyvisible --name '^Penrika$' 2>/dev/null | head -1 || true)
        [ -n "$toolbar" ] && break
        sleep 0.1
    done
    check "the toolbar appears" test -n "$toolbar"

    # Each of the six buttons draws an image: many of its pixels differ from its background.
    if [ -n "$toolbar" ]; then
        xdotool mousemove 0 0  # no hover frame on any button
        sleep 1
        shot=$(mktemp --suffix=.png)
        import -window "$toolbar" "$shot"
        width=$(identify -format '%w' "$shot")
        height=$(identify -format '%h' "$shot")
        for i in 0 1 2 3 4 5; do
            x=$((i * width / 6))
            drawn=$(convert "$shot" -crop "$((width / 6))x${height}+${x}+0" +repage \
                -fuzz 12% -fill black -opaque "$(convert "$shot" -format "%[pixel:p{$((x + 1)),1}]" info:)" \
                -fill white +opaque black -format '%[fx:int(mean*w*h)]' info:)
            check "button $((i + 1)) draws its image ($drawn pixels)" test "$drawn" -ge 20
        done
        rm -f "$shot"
        # Help opens in Japanese.
        eval "$(xdotool getwindowgeometry --shell "$toolbar")"
        xdotool mousemove --window "$toolbar" $((width * 7 / 12)) $((height / 2)) click 1
        help=""
        for _ in $(seq 50); do
            help=$(xdotool search --onlyvisible --name 'Penrika ヘルプ' 2>/dev/null | head -1 || true)
            [ -n "$help" ] && break
            sleep 0.1
        done
        check "the help window opens in Japanese ($(xdotool getwindowname "$help" 2>/dev/null))" \
            test -n "$help"
    fi
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=""

    # In a Wayland session (headless sway, as tests/support/sway-session.sh runs it) the installed
    # program opens natively: a layer-shell toolbar where the release has Qt's layer shell (13),
    # an ordinary Wayland window otherwise. The root's own X sockets from here on: Xwayland's
    # display must not meet this machine's.
    umount -l "$rootfs/tmp/.X11-unix" || true
    # As a machine's own: Xwayland refuses a socket folder anyone could take over.
    chmod 1777 "$rootfs/tmp/.X11-unix"
    check "apt installs a Wayland compositor beside it" \
        in_root sh -c 'DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends sway xwayland x11-xserver-utils dbus-daemon >/dev/null 2>&1'
    cp "$root/tests/support/sway-session.sh" "$rootfs/tmp/sway-session.sh"
    in_root bash /tmp/sway-session.sh sh -c "WAYLAND_DEBUG=client timeout 8 $exec_line \
        >/tmp/penrika-wayland.log 2>&1; true" >/dev/null 2>&1
    if [ "$release" -ge 13 ]; then
        check "on Wayland the toolbar is a layer-shell surface" \
            grep -q 'get_layer_surface(.*"penrika")' "$rootfs/tmp/penrika-wayland.log"
    else
        check "on Wayland the toolbar is a Wayland window" \
            grep -q 'set_app_id("jp.tamsel.Penrika")' "$rootfs/tmp/penrika-wayland.log"
    fi

    # The installed program filling both browsers with a real mouse, on an X display, under sway,
    # under KWin and (Debian 13) under GNOME, the input method off and on: the release's browser cases (its test build,
    # bound in at the same path) with /usr/bin/penrika in place of the build's. Under KWin the
    # window list and keys are granted to it by the package's own desktop file alone.
    local e2e="$root/build/tests/Write_e2etest"
    [ "$release" = "$debian_release" ] || e2e="$root/build-deb$release/tests/Write_e2etest"
    # shellcheck disable=SC2016
    check "apt installs both browsers, KWin and the input method beside it" \
        in_root sh -c 'DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            kwin-wayland chromium firefox-esr fcitx5 fcitx5-mozc fcitx5-frontend-gtk3 dbus-x11 \
            python3 procps wl-clipboard npm xvfb xauth openbox x11-utils xdotool >/dev/null 2>&1'
    # From Debian 13 on, GNOME's Wayland session too, where the package's desktop file names the
    # program to the desktop portal.
    local sessions=(with-x sway-session kwin-session)
    if [ "$release" -ge 13 ]; then
        sessions+=(gnome-session)
        check "apt installs GNOME Shell and the desktop portal" \
            in_root sh -c "DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
                --no-install-recommends ${gnome_packages[*]} >/dev/null 2>&1"
    fi
    share_machine_trust "$rootfs"
    mkdir -p "$rootfs$root"
    mount --bind "$root" "$rootfs$root"
    for session in "${sessions[@]}"; do
        e2e_passes() {
            in_root env PENRIKA_INSTALLED=/usr/bin/penrika \
                bash "$root/tests/support/$session.sh" "$e2e" \
                --gtest_filter='-*Figure*' >"/tmp/penrika-clean-$release-$session.log" 2>&1 && return 0
            grep -E '^\[  FAILED|Failure|error' "/tmp/penrika-clean-$release-$session.log" | head -20 >&2
            return 1
        }
        check "the installed penrika fills both browsers ($session, /tmp/penrika-clean-$release-$session.log)" \
            e2e_passes
    done
    cleanup
}

for release in "${releases[@]}"; do check_release "$release"; done
[ "$failed" -eq 0 ] && echo "clean machine: every check passed" || echo "clean machine: a check FAILED"
exit $failed
